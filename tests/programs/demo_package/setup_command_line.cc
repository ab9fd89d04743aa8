// Parsing the demo setup's command line.
#include "setup_command_line.h"

namespace installer::demo {
namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

size_t SkipBlanks(std::wstring_view s, size_t pos) {
    while (pos < s.size() && IsBlank(s[pos])) {
        ++pos;
    }
    return pos;
}

// The program token: a quoted part runs to the closing quote (blanks inside it do not end it).
size_t SkipProgram(std::wstring_view s) {
    size_t pos = SkipBlanks(s, 0);
    bool quoted = false;
    while (pos < s.size() && (quoted || !IsBlank(s[pos]))) {
        if (s[pos] == L'"') {
            quoted = !quoted;
        }
        ++pos;
    }
    return pos;
}

}  // namespace

SetupSwitches ParseSetupCommandLine(std::wstring_view command_line) {
    SetupSwitches switches;
    size_t pos = SkipProgram(command_line);
    while (true) {
        pos = SkipBlanks(command_line, pos);
        if (pos >= command_line.size()) {
            break;
        }
        const std::wstring_view rest = command_line.substr(pos);
        // A caller that quoted the whole switch ("/D=C:\My Dir") still means the directory.
        const bool quoted = rest.starts_with(L"\"/D=");
        if (quoted || rest.starts_with(L"/D=")) {
            std::wstring dir(rest.substr(quoted ? 4 : 3));
            while (!dir.empty() && IsBlank(dir.back())) {
                dir.pop_back();
            }
            if (quoted && !dir.empty() && dir.back() == L'"') {
                dir.pop_back();
            }
            if (!dir.empty()) {
                switches.install_dir = std::move(dir);
            }
            break;
        }
        size_t end = pos;
        while (end < command_line.size() && !IsBlank(command_line[end])) {
            ++end;
        }
        const std::wstring_view token = command_line.substr(pos, end - pos);
        if (token == L"/S") {
            switches.silent = true;
        } else if (token == L"/RUN") {
            switches.run = true;
        }
        pos = end;
    }
    return switches;
}

}  // namespace installer::demo
