// The support log: one plain UTF-8 text line per event of a run, each with the time since
// the start, so that a support person can read why an installation failed. This part is
// portable: line formatting, the size limit, the file name and which old logs to delete.
// Where the bytes go is a sink (a file in the temporary folder on Windows, a string in the
// tests). Writing the log never fails the caller: a sink that fails is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

// Largest log file, in bytes; a longer log is cut with a note.
inline constexpr size_t kSupportLogMaxBytes = 1024 * 1024;
// Room kept below the limit for the lines that say how the run ended (see SupportLog::Final).
inline constexpr size_t kSupportLogFinalReserve = 16 * 1024;
// Runs whose logs are kept (this one included).
inline constexpr int kSupportLogsKept = 5;

// Where the log's bytes go.
class ILogSink {
  public:
    virtual ~ILogSink() = default;
    // Appends `bytes`; false when they could not all be written (the log stops then).
    virtual bool Append(std::string_view bytes) = 0;
};

// One run's log. Thread-safe. Lines written before a sink is attached are held in memory
// (up to the same limit) and written when it comes, so the log starts at the very start
// even though its file name needs the package description.
class SupportLog {
  public:
    // An ordinary event at `elapsed_ms` since the start. Line breaks and other control
    // characters in `text` become spaces, so that one event stays one line.
    void Event(int64_t elapsed_ms, std::string_view text);
    // A line about how the run ended: written even after ordinary lines were cut, as long
    // as the file stays within kSupportLogMaxBytes.
    void Final(int64_t elapsed_ms, std::string_view text);
    // Attaches the sink (the first one only; later ones are ignored) and writes what was
    // held. A sink that fails is dropped and nothing more is written anywhere.
    void AttachSink(std::unique_ptr<ILogSink> sink);
    bool has_sink() const;
    // Bytes written or held so far.
    size_t size() const;
    // The last line written or held, without its line break (empty before the first).
    std::string last_line() const;

  private:
    void Write(int64_t elapsed_ms, std::string_view text, bool final);
    void Emit(std::string line);

    mutable std::mutex mutex_;
    std::unique_ptr<ILogSink> sink_;
    bool sink_attached_ = false;
    bool failed_ = false;
    bool cut_ = false;
    size_t size_ = 0;
    std::string held_;  // lines before the sink
    std::string last_;
};

// "[   12.345] text\n": seconds since the start with milliseconds, right-aligned to 8
// characters, the text with control characters as spaces.
std::string FormatLogLine(int64_t elapsed_ms, std::string_view text);

// A moment of the wall clock, in UTC, for the file name.
struct LogStartTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The name shared by every log of one product: "installer-<sub dir>-". Characters a file
// name cannot hold become "_"; an empty sub-directory is "unknown".
std::wstring SupportLogPrefix(std::wstring_view sub_dir);

// "installer-<sub dir>-<YYYYMMDD-HHMMSS>-<partner>_<sub>.log": the start time before the
// partner, so that the names of one product sort by time.
std::wstring SupportLogFileName(std::wstring_view sub_dir,
                                int32_t partner,
                                int64_t sub_partner,
                                const LogStartTime& start);

// Of the files `names` in the temporary folder, those of the product (prefix and ".log")
// to delete so that with the new log `kSupportLogsKept` runs remain: the oldest first.
std::vector<std::wstring> SupportLogsToDelete(std::vector<std::wstring> names, std::wstring_view prefix);

// A proxy setting as the log shows it: every "user:password@" removed from its entries
// ("http=user:pw@proxy:8080;https=proxy:8443" gives "http=proxy:8080;https=proxy:8443").
// Empty stays empty.
std::string ProxyForLog(std::string_view proxy);

}  // namespace installer
