// Reading plain and gzip logs line by line, including damaged and cut-off ones.
#include "log_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace installer {
namespace {

// A private scratch folder, removed with its content.
class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/stats-report-test-XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr);
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Appends one gzip member holding `text` to `path`.
void AppendGzip(const std::string& path, const std::string& text) {
    gzFile out = gzopen(path.c_str(), "ab");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
    ASSERT_EQ(gzclose(out), Z_OK);
}

struct ReadResult {
    ReadEnd end = ReadEnd::kComplete;
    std::vector<std::string> lines;
    std::string detail;
};

ReadResult ReadAll(const std::string& path) {
    ReadResult result;
    std::string error;
    std::optional<LogReader> reader = LogReader::Open(path, error);
    EXPECT_TRUE(reader.has_value()) << error;
    if (reader) {
        result.end =
            reader->ForEachLine([&](std::string_view line) { result.lines.emplace_back(line); }, result.detail);
    }
    return result;
}

// Numbered lines of some length, the way a log grows.
std::string NumberedLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "line " + std::to_string(i) + std::string(40 + i % 50, 'x') + "\n";
    }
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

TEST(LogReader, PlainAndGzipGiveTheSameLines) {
    ScratchDir dir;
    const std::string text = "first\r\nsecond\n\nthird without a line break";
    const std::vector<std::string> expected = {"first", "second", "", "third without a line break"};
    WriteFile(dir.File("access.log"), text);
    AppendGzip(dir.File("access.log.gz"), text);

    for (const char* name : {"access.log", "access.log.gz"}) {
        const ReadResult r = ReadAll(dir.File(name));
        EXPECT_EQ(r.end, ReadEnd::kComplete) << name;
        EXPECT_EQ(r.lines, expected) << name;
    }
    WriteFile(dir.File("empty.log"), "");
    const ReadResult empty = ReadAll(dir.File("empty.log"));
    EXPECT_EQ(empty.end, ReadEnd::kComplete);
    EXPECT_TRUE(empty.lines.empty());
}

TEST(LogReader, LinesAcrossReadChunksAndGzipMembersStayWhole) {
    ScratchDir dir;
    // More than one read chunk, in two gzip members, as `cat a.gz b.gz` gives.
    const std::string first = NumberedLines(20000);
    const std::string second = NumberedLines(3000);
    AppendGzip(dir.File("joined.gz"), first);
    AppendGzip(dir.File("joined.gz"), second);
    std::vector<std::string> expected = SplitLines(first);
    for (const std::string& line : SplitLines(second)) {
        expected.push_back(line);
    }
    const ReadResult r = ReadAll(dir.File("joined.gz"));
    EXPECT_EQ(r.end, ReadEnd::kComplete);
    EXPECT_EQ(r.lines, expected);
}

TEST(LogReader, CutGzipIsReportedAndItsLinesAreKept) {
    ScratchDir dir;
    const std::string text = NumberedLines(5000);
    const std::vector<std::string> all = SplitLines(text);
    AppendGzip(dir.File("whole.gz"), text);
    const std::string whole = ReadFile(dir.File("whole.gz"));
    WriteFile(dir.File("cut.gz"), whole.substr(0, whole.size() / 2));

    const ReadResult r = ReadAll(dir.File("cut.gz"));
    EXPECT_EQ(r.end, ReadEnd::kCutShort);
    ASSERT_GT(r.lines.size(), 100u);
    ASSERT_LT(r.lines.size(), all.size());
    // Every whole line arrives as it was; the last one may be the start of a line.
    for (size_t i = 0; i + 1 < r.lines.size(); ++i) {
        ASSERT_EQ(r.lines[i], all[i]) << i;
    }
    EXPECT_TRUE(all[r.lines.size() - 1].starts_with(r.lines.back()));
    EXPECT_FALSE(DescribeReadEnd("cut.gz", r.end, r.detail).empty());

    // Cut inside the gzip header: nothing to count, still reported.
    WriteFile(dir.File("header.gz"), whole.substr(0, 5));
    const ReadResult header = ReadAll(dir.File("header.gz"));
    EXPECT_EQ(header.end, ReadEnd::kCutShort);
    EXPECT_TRUE(header.lines.empty());
}

TEST(LogReader, DamagedGzipIsReportedAndItsLinesAreKept) {
    ScratchDir dir;
    const std::string text = NumberedLines(5000);
    AppendGzip(dir.File("whole.gz"), text);
    std::string bytes = ReadFile(dir.File("whole.gz"));
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) {
        bytes[i] = static_cast<char>(~bytes[i]);
    }
    WriteFile(dir.File("damaged.gz"), bytes);
    const ReadResult r = ReadAll(dir.File("damaged.gz"));
    EXPECT_EQ(r.end, ReadEnd::kDamaged);
    EXPECT_FALSE(r.detail.empty());
    EXPECT_GT(r.lines.size(), 100u);
    EXPECT_EQ(r.lines.front(), SplitLines(text).front());
}

TEST(LogReader, OverlongLineIsCutAndTheNextLineIsWhole) {
    ScratchDir dir;
    const std::string huge(LogReader::kMaxLineBytes * 2 + 17, 'h');
    WriteFile(dir.File("long.log"), "before\n" + huge + "\nafter\n");
    const ReadResult r = ReadAll(dir.File("long.log"));
    EXPECT_EQ(r.end, ReadEnd::kComplete);
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], "before");
    EXPECT_EQ(r.lines[1], huge.substr(0, LogReader::kMaxLineBytes));
    EXPECT_EQ(r.lines[2], "after");
}

TEST(LogReader, MissingFileAndUnreadableFileAreClearErrors) {
    ScratchDir dir;
    std::string error;
    EXPECT_FALSE(LogReader::Open(dir.File("nothing.log"), error).has_value());
    EXPECT_NE(error.find("nothing.log"), std::string::npos);
    EXPECT_NE(error.find("No such file"), std::string::npos);

    // A folder opens but cannot be read.
    const ReadResult r = ReadAll(dir.File(""));
    EXPECT_EQ(r.end, ReadEnd::kReadError);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_NE(DescribeReadEnd("dir", r.end, r.detail).find("Is a directory"), std::string::npos);
}

}  // namespace
}  // namespace installer
