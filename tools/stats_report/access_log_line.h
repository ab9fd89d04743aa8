// One line of a web server access log in the common or combined format, as nginx and
// Apache write it: host, identity, user, [time], "request", status, and (combined) size,
// "referer" and "user agent", which are not needed here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

// A calendar day as one comparable number: year * 10000 + month * 100 + day.
using LogDay = int32_t;

// What a report count needs from one line. `request` points into the line and still
// holds the log's escapes (nginx writes "\x22", Apache "\"").
struct AccessLogEntry {
    LogDay day = 0;  // the date as the server wrote it, in its own time zone
    std::string_view request;
    int status = 0;
};

// Reads `line`. Returns false, leaving `entry` unspecified, when the line is not in the
// common or combined format (no "[dd/Mon/yyyy:hh:mm:ss zone]", no quoted request, or no
// three-digit status after it). A prefix before the host field (Apache's vhost_combined)
// is tolerated.
bool ParseAccessLogLine(std::string_view line, AccessLogEntry& entry);

// Removes the escapes nginx and Apache put into a logged request: "\xHH" (either case)
// becomes that byte, "\"" and "\\" the character. Any other backslash stays as it is.
// Writes into `out` (cleared first). Never fails.
void UnescapeLoggedText(std::string_view text, std::string& out);

// Reads "YYYY-MM-DD" (a real calendar day). Returns false when it is anything else.
bool ParseIsoDay(std::string_view text, LogDay& day);

}  // namespace installer
