// The support log's portable part: lines, the size limit, names and rotation.
#include "base/support_log.h"

#include <algorithm>
#include <cstdio>

namespace installer {
namespace {

constexpr std::string_view kCutNote = "log cut: longer than 1 MiB; only the lines on how the run ended follow";

bool IsFileNameCharacter(wchar_t c) {
    if (c < 0x20) {
        return false;
    }
    return std::wstring_view(L"<>:\"/\\|?*").find(c) == std::wstring_view::npos;
}

std::wstring TwoDigits(int value) {
    wchar_t text[8] = {};
    std::swprintf(text, 8, L"%02d", value);
    return text;
}

}  // namespace

std::string FormatLogLine(int64_t elapsed_ms, std::string_view text) {
    if (elapsed_ms < 0) {
        elapsed_ms = 0;
    }
    char stamp[40] = {};
    std::snprintf(stamp, sizeof(stamp), "[%8lld.%03d] ", static_cast<long long>(elapsed_ms / 1000),
                  static_cast<int>(elapsed_ms % 1000));
    std::string line = stamp;
    line.reserve(line.size() + text.size() + 1);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        line.push_back(c < 0x20 || c == 0x7F ? ' ' : ch);
    }
    line.push_back('\n');
    return line;
}

void SupportLog::Event(int64_t elapsed_ms, std::string_view text) {
    Write(elapsed_ms, text, false);
}

void SupportLog::Final(int64_t elapsed_ms, std::string_view text) {
    Write(elapsed_ms, text, true);
}

void SupportLog::Write(int64_t elapsed_ms, std::string_view text, bool final) {
    try {
        std::string line = FormatLogLine(elapsed_ms, text);
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_) {
            return;
        }
        const size_t limit = final ? kSupportLogMaxBytes : kSupportLogMaxBytes - kSupportLogFinalReserve;
        if (size_ + line.size() > limit) {
            if (!final && !cut_) {
                cut_ = true;
                Emit(FormatLogLine(elapsed_ms, kCutNote));
            }
            return;
        }
        if (!final && cut_) {
            return;
        }
        Emit(std::move(line));
    } catch (...) {
        // Out of memory: the log is a help, never a reason to stop.
    }
}

void SupportLog::Emit(std::string line) {
    size_ += line.size();
    last_.assign(line, 0, line.size() - 1);
    if (sink_attached_) {
        if (sink_ == nullptr || !sink_->Append(line)) {
            sink_.reset();
            failed_ = true;
        }
    } else {
        held_ += line;
    }
}

void SupportLog::AttachSink(std::unique_ptr<ILogSink> sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sink_attached_) {
        return;
    }
    sink_attached_ = true;
    sink_ = std::move(sink);
    if (sink_ == nullptr || (!held_.empty() && !sink_->Append(held_))) {
        sink_.reset();
        failed_ = true;
    }
    std::string().swap(held_);
}

bool SupportLog::has_sink() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sink_ != nullptr;
}

size_t SupportLog::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_;
}

std::string SupportLog::last_line() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

std::wstring SupportLogPrefix(std::wstring_view sub_dir) {
    std::wstring name = L"installer-";
    if (sub_dir.empty()) {
        name += L"unknown";
    }
    for (const wchar_t c : sub_dir) {
        name.push_back(IsFileNameCharacter(c) ? c : L'_');
    }
    name.push_back(L'-');
    return name;
}

std::wstring SupportLogFileName(std::wstring_view sub_dir,
                                int32_t partner,
                                int64_t sub_partner,
                                const LogStartTime& start) {
    std::wstring name = SupportLogPrefix(sub_dir);
    name += std::to_wstring(start.year) + TwoDigits(start.month) + TwoDigits(start.day) + L"-" + TwoDigits(start.hour) +
            TwoDigits(start.minute) + TwoDigits(start.second);
    name += L"-" + std::to_wstring(partner) + L"_" + std::to_wstring(sub_partner) + L".log";
    return name;
}

std::vector<std::wstring> SupportLogsToDelete(std::vector<std::wstring> names, std::wstring_view prefix) {
    std::vector<std::wstring> ours;
    for (std::wstring& name : names) {
        if (name.size() > prefix.size() + 4 && std::wstring_view(name).starts_with(prefix) &&
            std::wstring_view(name).ends_with(L".log")) {
            ours.push_back(std::move(name));
        }
    }
    // The time follows the prefix, so the names of one product sort by time.
    std::sort(ours.begin(), ours.end());
    constexpr size_t kOldKept = kSupportLogsKept - 1;
    if (ours.size() <= kOldKept) {
        return {};
    }
    ours.resize(ours.size() - kOldKept);
    return ours;
}

std::string ProxyForLog(std::string_view proxy) {
    std::string out;
    out.reserve(proxy.size());
    size_t pos = 0;
    while (pos < proxy.size()) {
        // Entries are separated by ";" or spaces; each is "[scheme=][scheme://][user[:pw]@]host[:port]".
        size_t end = proxy.find_first_of("; ", pos);
        if (end == std::string_view::npos) {
            end = proxy.size();
        }
        std::string_view entry = proxy.substr(pos, end - pos);
        const size_t at = entry.rfind('@');
        if (at != std::string_view::npos) {
            size_t keep = 0;  // what stays in front of the credentials
            const size_t equals = entry.find('=');
            if (equals != std::string_view::npos && equals < at) {
                keep = equals + 1;
            }
            const size_t scheme = entry.find("://", keep);
            if (scheme != std::string_view::npos && scheme < at) {
                keep = scheme + 3;
            }
            out.append(entry.substr(0, keep));
            out.append(entry.substr(at + 1));
        } else {
            out.append(entry);
        }
        if (end < proxy.size()) {
            out.push_back(proxy[end]);
        }
        pos = end + 1;
    }
    return out;
}

}  // namespace installer
