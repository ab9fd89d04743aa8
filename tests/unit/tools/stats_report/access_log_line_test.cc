// Reading common and combined log lines as nginx and Apache write them.
#include "access_log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace installer {
namespace {

AccessLogEntry Parsed(std::string_view line) {
    AccessLogEntry entry;
    EXPECT_TRUE(ParseAccessLogLine(line, entry)) << line;
    return entry;
}

bool Parses(std::string_view line) {
    AccessLogEntry entry;
    return ParseAccessLogLine(line, entry);
}

TEST(AccessLogLine, ReadsTheFormatsServersWrite) {
    // nginx, combined.
    AccessLogEntry e = Parsed(
        R"log(127.0.0.1 - - [08/Dec/2026:07:25:28 +0000] "GET /a?b=1 HTTP/1.1" 200 2 "-" "Mozilla/4.0 (compatible)")log");
    EXPECT_EQ(e.day, 20261208);
    EXPECT_EQ(e.request, "GET /a?b=1 HTTP/1.1");
    EXPECT_EQ(e.status, 200);
    // Apache, common (no referer or agent), a user name and a size of "-".
    e = Parsed(R"(2001:db8::1 - frank [29/Feb/2024:23:59:59 -0700] "HEAD / HTTP/1.0" 304 -)");
    EXPECT_EQ(e.day, 20240229);
    EXPECT_EQ(e.request, "HEAD / HTTP/1.0");
    EXPECT_EQ(e.status, 304);
    // Apache's vhost_combined puts the virtual host first.
    e = Parsed(R"(stats.example.com:80 10.0.0.5 - - [01/Jan/2027:00:00:00 +0800] "GET /x HTTP/1.1" 404 9 "-" "-")");
    EXPECT_EQ(e.day, 20270101);
    EXPECT_EQ(e.request, "GET /x HTTP/1.1");
    // Status 000 (nginx, request never answered) is still a line.
    EXPECT_EQ(Parsed(R"(1.2.3.4 - - [08/Dec/2026:07:25:28 +0000] "GET / HTTP/2.0" 000 0 "-" "-")").status, 0);
}

TEST(AccessLogLine, QuotesInsideTheRequestDoNotEndIt) {
    // Apache escapes a quote as \" and a backslash as \\; nginx writes \x22 and \x5C.
    EXPECT_EQ(Parsed(R"(h - - [08/Dec/2026:07:25:28 +0000] "GET /?phs=a\"b\\ HTTP/1.1" 200 2 "-" "-")").request,
              R"(GET /?phs=a\"b\\ HTTP/1.1)");
    EXPECT_EQ(Parsed(R"(h - - [08/Dec/2026:07:25:28 +0000] "GET /?phs=a\x22b HTTP/1.1" 400 2 "-" "-")").request,
              R"(GET /?phs=a\x22b HTTP/1.1)");
    // A request that ends in an escaped backslash ends at the quote after it.
    EXPECT_EQ(Parsed(R"(h - - [08/Dec/2026:07:25:28 +0000] "x\\" 400 0 "-" "-")").request, R"(x\\)");
    // What nginx logs for a TLS handshake sent to a plain port, and for no request at all.
    EXPECT_EQ(Parsed(R"(h - - [08/Dec/2026:07:25:28 +0000] "\x16\x03\x01\x02" 400 157 "-" "-")").request,
              R"(\x16\x03\x01\x02)");
    EXPECT_EQ(Parsed(R"(h - - [08/Dec/2026:07:25:28 +0000] "-" 400 0 "-" "-")").request, "-");
}

TEST(AccessLogLine, RejectsWhatIsNotALogLine) {
    EXPECT_FALSE(Parses(""));
    EXPECT_FALSE(Parses("garbage"));
    EXPECT_FALSE(Parses(" - - [08/Dec/2026:07:25:28 +0000] \"GET / HTTP/1.1\" 200 2"));   // no host
    EXPECT_FALSE(Parses("h - - [08/Dec/2026:07:25"));                                     // cut in the time
    EXPECT_FALSE(Parses("h - - [08/Dez/2026:07:25:28 +0000] \"GET / HTTP/1.1\" 200 2"));  // month
    EXPECT_FALSE(Parses("h - - [31/Apr/2026:07:25:28 +0000] \"GET / HTTP/1.1\" 200 2"));  // no such day
    EXPECT_FALSE(Parses("h - - [29/Feb/2026:07:25:28 +0000] \"GET / HTTP/1.1\" 200 2"));  // not a leap year
    EXPECT_FALSE(Parses("h - - [08/Dec/2026:07:2x:28 +0000] \"GET / HTTP/1.1\" 200 2"));
    EXPECT_FALSE(Parses("h - - [08/Dec/2026:07:25:28] \"GET / HTTP/1.1\" 200 2"));      // no zone
    EXPECT_FALSE(Parses("h - - [08/Dec/2026:07:25:28 +0000] GET / HTTP/1.1 200 2"));    // request not quoted
    EXPECT_FALSE(Parses("h - - [08/Dec/2026:07:25:28 +0000] \"GET / HTTP/1.1 200 2"));  // quote not closed
    EXPECT_FALSE(Parses("h - - [08/Dec/2026:07:25:28 +0000] \"GET / HTTP/1.1\" 20"));   // status cut
    EXPECT_FALSE(Parses("h - - [08/Dec/2026:07:25:28 +0000] \"GET / HTTP/1.1\" 2000 2"));
    EXPECT_FALSE(Parses("h - - [08/Dec/2026:07:25:28 +0000] \"GET / HTTP/1.1\" abc 2"));
}

TEST(UnescapeLoggedText, UndoesBothServersEscapes) {
    std::string out = "left over";
    UnescapeLoggedText(R"(a\x22b\x5Cc\xb0\xA1 \"d\" \\e)", out);
    EXPECT_EQ(out, "a\"b\\c\xb0\xa1 \"d\" \\e");
    // Backslashes that are not one of those escapes stay, also at the very end.
    UnescapeLoggedText(R"(\n\x4\xzz\)", out);
    EXPECT_EQ(out, R"(\n\x4\xzz\)");
}

TEST(ParseIsoDay, AcceptsOnlyRealDays) {
    LogDay day = 0;
    ASSERT_TRUE(ParseIsoDay("2024-02-29", day));
    EXPECT_EQ(day, 20240229);
    ASSERT_TRUE(ParseIsoDay("2026-12-31", day));
    EXPECT_EQ(day, 20261231);
    for (const char* bad : {"2026-02-29", "2026-13-01", "2026-00-10", "2026-1-01", "2026/01/01", "", "20260101",
                            "2026-01-01x", "2026-01-32"}) {
        EXPECT_FALSE(ParseIsoDay(bad, day)) << bad;
    }
}

}  // namespace
}  // namespace installer
