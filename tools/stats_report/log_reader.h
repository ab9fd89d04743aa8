// Reading a log file line by line, plain or gzip-compressed (recognised by its content,
// so rotated "access.log.2.gz" files and standard input work alike), in fixed memory.
// Several gzip members one after the other (`cat a.gz b.gz`) are read as one text.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

enum class ReadEnd {
    kComplete,   // every line was read
    kCutShort,   // a gzip stream ends in the middle: the lines before the cut were read
    kDamaged,    // the compressed data is corrupt: the lines before the damage were read
    kReadError,  // the file could not be read on: the lines before were read
};

class LogReader {
  public:
    // Longer lines are handed over cut to this length; the rest of the line is skipped.
    static constexpr size_t kMaxLineBytes = 1 << 20;

    // Opens `path`, or standard input for "-". Returns nullopt and sets `error` (a
    // sentence naming the file and the system's reason) when it cannot be opened.
    static std::optional<LogReader> Open(const std::string& path, std::string& error);

    // Hands every line to `on_line`, without its "\n" or "\r\n"; a last line without a
    // line break (also one cut off by a damaged file) is handed over too, so every byte
    // before a cut or damage is read. `detail` gets zlib's or the system's words when the
    // result is not kComplete. Call once.
    ReadEnd ForEachLine(const std::function<void(std::string_view)>& on_line, std::string& detail);

    LogReader(LogReader&&) noexcept;
    LogReader& operator=(LogReader&&) noexcept;
    ~LogReader();

  private:
    struct Source;  // the open file and, for gzip, the decompressor
    explicit LogReader(std::unique_ptr<Source> source);

    std::unique_ptr<Source> source_;
    std::vector<char> buffer_;
};

// A one-line description of how a file ended, for the user; empty for kComplete.
std::string DescribeReadEnd(const std::string& path, ReadEnd end, const std::string& detail);

}  // namespace installer
