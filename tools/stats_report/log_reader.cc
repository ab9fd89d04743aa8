// Line reading over read(2), with zlib's inflate for gzip files. inflate is driven
// directly (not through gzread) because gzread drops the text of a call that hits
// damaged data, and a publisher wants every line before the damage counted.
#include "log_reader.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace installer {
namespace {

constexpr size_t kChunkBytes = 1 << 20;
constexpr size_t kInputBytes = 1 << 17;

std::string_view WithoutCarriageReturn(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

// Owns the file descriptor and the inflate state; fixed in memory, since a z_stream
// must not move once initialised.
struct LogReader::Source {
    int fd = -1;
    bool gzip = false;
    bool inflating = false;    // inflateInit2 succeeded, inflateEnd is owed
    bool member_done = false;  // the last gzip member ended; more input starts another
    bool finished = false;
    ReadEnd end = ReadEnd::kComplete;
    std::string detail;
    z_stream z{};
    std::vector<unsigned char> input = std::vector<unsigned char>(kInputBytes);
    size_t input_pos = 0;  // bytes of `input` not yet given to the plain reader
    size_t input_size = 0;

    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() {
        if (inflating) {
            inflateEnd(&z);
        }
        if (fd >= 0) {
            close(fd);
        }
    }

    void Fail(ReadEnd how, std::string why) {
        end = how;
        detail = std::move(why);
        finished = true;
    }

    // read(2) that retries when interrupted; -1 with `detail` set on failure.
    ssize_t ReadSome(void* to, size_t size) {
        ssize_t got;
        do {
            got = read(fd, to, size);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            Fail(ReadEnd::kReadError, std::strerror(errno));
        }
        return got;
    }

    // Reads the first bytes and decides between plain text and gzip.
    void Start() {
        const ssize_t got = ReadSome(input.data(), input.size());
        input_size = got > 0 ? static_cast<size_t>(got) : 0;
        gzip = input_size >= 2 && input[0] == 0x1f && input[1] == 0x8b;
        if (!gzip) {
            return;
        }
        // 15 + 16: the largest window, gzip wrapper only.
        if (inflateInit2(&z, 15 + 16) != Z_OK) {
            Fail(ReadEnd::kDamaged, "zlib cannot start: out of memory");
            return;
        }
        inflating = true;
        z.next_in = input.data();
        z.avail_in = static_cast<uInt>(input_size);
    }

    // Puts up to `capacity` bytes of the log's text at `out` and returns how many; fewer
    // only when the text ends, is cut short or cannot be read further (then `finished`).
    size_t Fill(char* out, size_t capacity) {
        if (finished) {
            return 0;
        }
        return gzip ? Inflate(out, capacity) : Copy(out, capacity);
    }

    size_t Copy(char* out, size_t capacity) {
        if (input_pos < input_size) {
            const size_t n = std::min(capacity, input_size - input_pos);
            std::memcpy(out, input.data() + input_pos, n);
            input_pos += n;
            return n;
        }
        const ssize_t got = ReadSome(out, capacity);
        if (got <= 0) {
            finished = true;
            return 0;
        }
        return static_cast<size_t>(got);
    }

    size_t Inflate(char* out, size_t capacity) {
        z.next_out = reinterpret_cast<Bytef*>(out);
        z.avail_out = static_cast<uInt>(capacity);
        while (z.avail_out > 0 && !finished) {
            if (z.avail_in == 0) {
                const ssize_t got = ReadSome(input.data(), input.size());
                if (got < 0) {
                    break;
                }
                if (got == 0) {
                    if (!member_done) {
                        Fail(ReadEnd::kCutShort, "unexpected end of file");
                    }
                    finished = true;
                    break;
                }
                z.next_in = input.data();
                z.avail_in = static_cast<uInt>(got);
            }
            if (member_done) {
                // Another member follows (or garbage, which inflate then reports).
                inflateReset(&z);
                member_done = false;
            }
            const int result = inflate(&z, Z_NO_FLUSH);
            if (result == Z_STREAM_END) {
                member_done = true;
            } else if (result != Z_OK && result != Z_BUF_ERROR) {
                Fail(ReadEnd::kDamaged, z.msg != nullptr ? z.msg : "zlib error " + std::to_string(result));
            }
        }
        return capacity - z.avail_out;
    }
};

LogReader::LogReader(std::unique_ptr<Source> source) : source_(std::move(source)) {}
LogReader::LogReader(LogReader&&) noexcept = default;
LogReader& LogReader::operator=(LogReader&&) noexcept = default;
LogReader::~LogReader() = default;

std::optional<LogReader> LogReader::Open(const std::string& path, std::string& error) {
    auto source = std::make_unique<Source>();
    source->fd = path == "-" ? dup(STDIN_FILENO) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (source->fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return LogReader(std::move(source));
}

ReadEnd LogReader::ForEachLine(const std::function<void(std::string_view)>& on_line, std::string& detail) {
    Source& source = *source_;
    source.Start();
    buffer_.resize(kChunkBytes + kMaxLineBytes);
    size_t held = 0;        // bytes of an unfinished line at the start of buffer_
    bool skipping = false;  // inside the rest of an over-long line
    while (!source.finished) {
        const size_t got = source.Fill(buffer_.data() + held, kChunkBytes);
        const char* data = buffer_.data();
        const size_t size = held + got;
        size_t start = 0;
        while (const void* found = std::memchr(data + start, '\n', size - start)) {
            const size_t newline = static_cast<const char*>(found) - data;
            if (!skipping) {
                on_line(WithoutCarriageReturn(std::string_view(data + start, newline - start)));
            }
            skipping = false;
            start = newline + 1;
        }
        held = size - start;
        if (skipping) {
            held = 0;  // no line break in this chunk: all of it is the skipped rest
        } else if (held >= kMaxLineBytes) {
            on_line(std::string_view(data + start, kMaxLineBytes));
            skipping = true;
            held = 0;
        }
        if (held > 0 && start > 0) {
            std::memmove(buffer_.data(), data + start, held);
        }
    }
    if (held > 0 && !skipping) {
        on_line(WithoutCarriageReturn(std::string_view(buffer_.data(), held)));
    }
    detail = source.detail;
    return source.end;
}

std::string DescribeReadEnd(const std::string& path, ReadEnd end, const std::string& detail) {
    switch (end) {
        case ReadEnd::kComplete:
            return {};
        case ReadEnd::kCutShort:
            return path + ": the compressed file is cut short; the lines before the cut are counted";
        case ReadEnd::kDamaged:
            return path + ": the compressed data is damaged (" + detail + "); the lines before it are counted";
        case ReadEnd::kReadError:
            return path + ": reading failed (" + detail + "); the lines before are counted";
    }
    return {};
}

}  // namespace installer
