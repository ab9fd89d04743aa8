// Edits the text of an INI file in place: sets keys, replaces a section's keys, adds
// sections, and keeps every byte it is not asked to change (comments, blank lines, order,
// each line's own ending, a last line without one). Lines are read as the Windows profile
// functions read them (base/ini_file.h), so what is set here is what the installer reads.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace installer {

class IniText {
  public:
    using KeyValues = std::vector<std::pair<std::wstring, std::wstring>>;

    // Splits `text` into lines; never fails (any text is some INI file).
    explicit IniText(std::wstring_view text);

    // The text with the edits made so far.
    std::wstring Text() const;

    // True when a section `name` exists (names compare as the profile functions compare
    // them: ASCII letters in either case).
    bool HasSection(std::wstring_view name) const;

    // Names and values are written as given: the caller keeps line breaks out of them.

    // Makes `key` read as `value` in the first section `section` (the one the profile
    // functions read): its first line of that key becomes "key=value"; later lines of the
    // same key there are removed, so that no reader finds an older value. A missing key is
    // added after the section's last non-blank line; a missing section is added at the end.
    void Set(std::wstring_view section, std::wstring_view key, std::wstring_view value);

    // Makes `keys`, in their order, the keys of the first section `section`: its key lines
    // go, its comment lines (';' or '#') and blank lines stay where they are, and the new
    // keys stand where its first key stood (after its last non-blank line when it had
    // none). A missing section is added at the end with the keys.
    void ReplaceKeys(std::wstring_view section, const KeyValues& keys);

    // Adds an empty section `name` before the first section (after the lines that precede
    // every section), or at the end when there is none. Does nothing when it exists.
    void AddSectionFirst(std::wstring_view name);

  private:
    struct Line {
        std::wstring text;  // without its line ending
        std::wstring end;   // "\r\n", "\n", "\r" or empty (the last line only)
    };
    enum class Kind { kBlank, kComment, kSection, kKey };

    static Kind KindOf(const std::wstring& text);
    // Name of a section line, or of the key of a key line, as the profile functions read it.
    static std::wstring_view NameOf(const std::wstring& text, Kind kind);

    // Index of the first section line `name`, or lines_.size().
    size_t FindSection(std::wstring_view name) const;
    // Index just past the last line of the section whose header is at `header`.
    size_t SectionEnd(size_t header) const;
    // Index just past the section's last non-blank line.
    size_t ContentEnd(size_t header) const;
    // Index of the first key line `key` (any key when empty) of the section whose header is
    // at `header`, or lines_.size().
    size_t FindKey(size_t header, std::wstring_view key) const;
    // Erases the key lines `key` (every key line when empty) among lines [from, to).
    void EraseKeys(size_t from, size_t to, std::wstring_view key);
    // Inserts `texts` as lines before `at`, ended as the file's lines are; at the end of a
    // file whose last line had no ending, that line gets one and the last new line none.
    void Insert(size_t at, std::vector<std::wstring> texts);
    // Adds a section header at the end of the text and returns its index.
    size_t AppendSection(std::wstring_view name);

    std::vector<Line> lines_;
    std::wstring eol_;  // the ending of new lines: the file's first, else "\r\n"
};

}  // namespace installer
