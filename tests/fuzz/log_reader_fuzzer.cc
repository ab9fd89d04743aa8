// Fuzzes the statistics log report's reading: the file reader (plain or gzip, whole, cut
// or damaged) and the access-log line parser with its unescaping. Lines come out without
// their line breaks and never longer than the reader promises; a parsed line's request
// lies inside the line, its status has three digits and its day is a calendar number.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "access_log_line.h"
#include "fuzz_check.h"
#include "log_reader.h"

namespace installer {
namespace {

void CheckParse(std::string_view line) {
    AccessLogEntry entry;
    if (ParseAccessLogLine(line, entry)) {
        FUZZ_CHECK(entry.request.data() >= line.data() &&
                   entry.request.data() + entry.request.size() <= line.data() + line.size());
        FUZZ_CHECK(entry.status >= 0 && entry.status <= 999);
        FUZZ_CHECK(entry.day >= 0);
        std::string unescaped;
        UnescapeLoggedText(entry.request, unescaped);
        FUZZ_CHECK(unescaped.size() <= entry.request.size());
    }
}

void CheckLine(std::string_view line) {
    FUZZ_CHECK(line.size() <= LogReader::kMaxLineBytes);
    FUZZ_CHECK(line.find('\n') == std::string_view::npos);
    CheckParse(line);
}

void Run(const uint8_t* data, size_t size) {
    // The reader reads files: the input goes to one of this process's own, removed at exit.
    struct OwnFile {
        std::string path = "/tmp/log_reader_fuzzer." + std::to_string(::getpid());
        ~OwnFile() { std::remove(path.c_str()); }
    };
    static const OwnFile own;
    const std::string& path = own.path;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);
    std::string error;
    auto reader = LogReader::Open(path, error);
    FUZZ_CHECK(reader.has_value());
    size_t total = 0;
    std::string detail;
    const ReadEnd end = reader->ForEachLine(
        [&total](std::string_view line) {
            total += line.size();
            CheckLine(line);
        },
        detail);
    // Plain text gives back no more bytes than it holds.
    const bool gzip = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
    if (!gzip) {
        FUZZ_CHECK(end == ReadEnd::kComplete);
        FUZZ_CHECK(total <= size);
    }
    // The parser on the raw bytes too, line breaks and all.
    CheckParse(std::string_view(reinterpret_cast<const char*>(data), size));
}

}  // namespace
}  // namespace installer

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    installer::Run(data, size);
    return 0;
}
