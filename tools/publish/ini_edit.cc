// Line-by-line editing of INI text that leaves untouched lines as they were.
#include "ini_edit.h"

#include <iterator>

#include "base/ini_file.h"

namespace installer {
namespace {

std::wstring KeyLine(std::wstring_view key, std::wstring_view value) {
    std::wstring line(key);
    line += L'=';
    line += value;
    return line;
}

}  // namespace

IniText::IniText(std::wstring_view text) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t stop = text.find_first_of(L"\r\n", start);
        if (stop == std::wstring_view::npos) {
            lines_.push_back(Line{std::wstring(text.substr(start)), L""});
            break;
        }
        const size_t next = text.compare(stop, 2, L"\r\n") == 0 ? stop + 2 : stop + 1;
        lines_.push_back(
            Line{std::wstring(text.substr(start, stop - start)), std::wstring(text.substr(stop, next - stop))});
        start = next;
    }
    eol_ = L"\r\n";  // as the profile functions write; a file that has its own keeps it
    for (const Line& line : lines_) {
        if (!line.end.empty()) {
            eol_ = line.end;
            break;
        }
    }
}

std::wstring IniText::Text() const {
    std::wstring out;
    for (const Line& line : lines_) {
        out += line.text;
        out += line.end;
    }
    return out;
}

IniText::Kind IniText::KindOf(const std::wstring& text) {
    const std::wstring_view line = TrimProfileBlanks(text);
    if (line.empty()) {
        return Kind::kBlank;
    }
    if (line.front() == L'[' && line.find(L']') != std::wstring_view::npos) {
        return Kind::kSection;  // the reader takes "[" without "]" as a key line
    }
    if (line.front() == L';' || line.front() == L'#') {
        return Kind::kComment;
    }
    return Kind::kKey;
}

std::wstring_view IniText::NameOf(const std::wstring& text, Kind kind) {
    const std::wstring_view line = TrimProfileBlanks(text);
    if (kind == Kind::kSection) {
        // The name ends at the last ']'.
        return TrimProfileBlanks(line.substr(1, line.rfind(L']') - 1));
    }
    return TrimProfileBlanks(line.substr(0, line.find(L'=')));
}

bool IniText::HasSection(std::wstring_view name) const {
    return FindSection(name) < lines_.size();
}

size_t IniText::FindSection(std::wstring_view name) const {
    name = TrimProfileBlanks(name);
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (KindOf(lines_[i].text) == Kind::kSection &&
            EqualsIgnoreCase(NameOf(lines_[i].text, Kind::kSection), name)) {
            return i;
        }
    }
    return lines_.size();
}

size_t IniText::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && KindOf(lines_[i].text) != Kind::kSection) {
        ++i;
    }
    return i;
}

size_t IniText::ContentEnd(size_t header) const {
    size_t end = SectionEnd(header);
    while (end > header + 1 && KindOf(lines_[end - 1].text) == Kind::kBlank) {
        --end;
    }
    return end;
}

void IniText::Insert(size_t at, std::vector<std::wstring> texts) {
    if (texts.empty()) {
        return;
    }
    std::vector<Line> added;
    added.reserve(texts.size());
    for (std::wstring& text : texts) {
        added.push_back(Line{std::move(text), eol_});
    }
    if (at == lines_.size() && !lines_.empty() && lines_.back().end.empty()) {
        lines_.back().end = eol_;
        added.back().end.clear();
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(added.begin()),
                  std::make_move_iterator(added.end()));
}

size_t IniText::FindKey(size_t header, std::wstring_view key) const {
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        const Kind kind = KindOf(lines_[i].text);
        if (kind == Kind::kKey && (key.empty() || EqualsIgnoreCase(NameOf(lines_[i].text, kind), key))) {
            return i;
        }
    }
    return lines_.size();
}

void IniText::EraseKeys(size_t from, size_t to, std::wstring_view key) {
    const bool open_end = !lines_.empty() && lines_.back().end.empty();
    std::vector<Line> kept;
    kept.reserve(lines_.size());
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Kind kind = KindOf(lines_[i].text);
        const bool erase = i >= from && i < to && kind == Kind::kKey &&
                           (key.empty() || EqualsIgnoreCase(NameOf(lines_[i].text, kind), key));
        if (!erase) {
            kept.push_back(std::move(lines_[i]));
        }
    }
    lines_ = std::move(kept);
    // A file that ended without a line ending goes on doing so.
    if (open_end && !lines_.empty()) {
        lines_.back().end.clear();
    }
}

size_t IniText::AppendSection(std::wstring_view name) {
    Insert(lines_.size(), {L"[" + std::wstring(name) + L"]"});
    return lines_.size() - 1;
}

void IniText::Set(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    size_t header = FindSection(section);
    if (header == lines_.size()) {
        header = AppendSection(section);
    }
    key = TrimProfileBlanks(key);
    const size_t first = FindKey(header, key);
    if (first == lines_.size()) {
        Insert(ContentEnd(header), {KeyLine(key, value)});
        return;
    }
    lines_[first].text = KeyLine(key, value);  // its line ending stays
    // Later lines of the key: the profile functions take the first, but another reader may
    // take the last; only the new value stays.
    EraseKeys(first + 1, SectionEnd(header), key);
}

void IniText::ReplaceKeys(std::wstring_view section, const KeyValues& keys) {
    size_t header = FindSection(section);
    if (header == lines_.size()) {
        header = AppendSection(section);
    }
    size_t at = FindKey(header, L"");
    if (at == lines_.size()) {
        at = ContentEnd(header);
    } else {
        EraseKeys(at, SectionEnd(header), L"");
    }
    std::vector<std::wstring> texts;
    texts.reserve(keys.size());
    for (const auto& [key, value] : keys) {
        texts.push_back(KeyLine(key, value));
    }
    Insert(at, std::move(texts));
}

void IniText::AddSectionFirst(std::wstring_view name) {
    if (HasSection(name)) {
        return;
    }
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (KindOf(lines_[i].text) == Kind::kSection) {
            Insert(i, {L"[" + std::wstring(name) + L"]"});
            return;
        }
    }
    AppendSection(name);
}

}  // namespace installer
