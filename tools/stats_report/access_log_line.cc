// Reading common and combined access log lines without copying them.
#include "access_log_line.h"

#include <cstring>

#include "base/hex.h"

namespace installer {
namespace {

// "dd/Mon/yyyy:hh:mm:ss +zzzz"
constexpr size_t kTimeLength = 26;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits of text[from, from + count) as a number; -1 when one of them is not a digit.
int Digits(std::string_view text, size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (!IsDigit(text[i])) {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int MonthNumber(std::string_view name) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) {
        if (name == kMonths[i]) {
            return i + 1;
        }
    }
    return 0;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool IsRealDay(int year, int month, int day) {
    static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1) {
        return false;
    }
    const int last = kDaysInMonth[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    return day <= last;
}

bool ParseLogTime(std::string_view text, LogDay& day) {
    if (text.size() != kTimeLength || text[2] != '/' || text[6] != '/' || text[11] != ':' || text[14] != ':' ||
        text[17] != ':' || text[20] != ' ' || (text[21] != '+' && text[21] != '-')) {
        return false;
    }
    const int d = Digits(text, 0, 2);
    const int month = MonthNumber(text.substr(3, 3));
    const int year = Digits(text, 7, 4);
    if (!IsRealDay(year, month, d) || Digits(text, 12, 2) < 0 || Digits(text, 15, 2) < 0 || Digits(text, 18, 2) < 0 ||
        Digits(text, 22, 4) < 0) {
        return false;
    }
    day = year * 10000 + month * 100 + d;
    return true;
}

// Position of the quote that ends a quoted field starting at `from`; a quote after an
// odd number of backslashes is part of the text (Apache's "\"").
size_t ClosingQuote(std::string_view line, size_t from) {
    while (from < line.size()) {
        const void* found = std::memchr(line.data() + from, '"', line.size() - from);
        if (found == nullptr) {
            return std::string_view::npos;
        }
        const size_t quote = static_cast<const char*>(found) - line.data();
        size_t backslashes = 0;
        while (quote - backslashes > from && line[quote - backslashes - 1] == '\\') {
            ++backslashes;
        }
        if (backslashes % 2 == 0) {
            return quote;
        }
        from = quote + 1;
    }
    return std::string_view::npos;
}

}  // namespace

bool ParseAccessLogLine(std::string_view line, AccessLogEntry& entry) {
    // The host comes first; identity and user (and a virtual host before them) may vary.
    const size_t first_space = line.find(' ');
    if (first_space == 0 || first_space == std::string_view::npos) {
        return false;
    }
    const size_t open = line.find('[', first_space);
    if (open == std::string_view::npos || line[open - 1] != ' ') {
        return false;
    }
    const size_t time_start = open + 1;
    if (line.size() < time_start + kTimeLength + 3 || line[time_start + kTimeLength] != ']' ||
        !ParseLogTime(line.substr(time_start, kTimeLength), entry.day)) {
        return false;
    }
    size_t at = time_start + kTimeLength + 1;
    if (line[at] != ' ' || line[at + 1] != '"') {
        return false;
    }
    at += 2;
    const size_t close = ClosingQuote(line, at);
    if (close == std::string_view::npos) {
        return false;
    }
    entry.request = line.substr(at, close - at);
    // ` NNN` and then the end of the line or a space.
    at = close + 1;
    if (line.size() < at + 4 || line[at] != ' ') {
        return false;
    }
    entry.status = Digits(line, at + 1, 3);
    if (entry.status < 0 || (line.size() > at + 4 && line[at + 4] != ' ')) {
        return false;
    }
    return true;
}

void UnescapeLoggedText(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == '"' || next == '\\') {
                out.push_back(next);
                ++i;
                continue;
            }
            if (next == 'x' && i + 3 < text.size() && HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0) {
                out.push_back(static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3])));
                i += 3;
                continue;
            }
        }
        out.push_back(c);
    }
}

bool ParseIsoDay(std::string_view text, LogDay& day) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return false;
    }
    const int year = Digits(text, 0, 4);
    const int month = Digits(text, 5, 2);
    const int d = Digits(text, 8, 2);
    if (!IsRealDay(year, month, d)) {
        return false;
    }
    day = year * 10000 + month * 100 + d;
    return true;
}

}  // namespace installer
