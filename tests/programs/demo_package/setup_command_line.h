// How the demo setup reads its command line: the switches "/S" and "/RUN", and
// "/D=" whose value is everything after it, spaces included, as NSIS setups do.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace installer::demo {

struct SetupSwitches {
    bool silent = false;                      // "/S"
    bool run = false;                         // "/RUN"
    std::optional<std::wstring> install_dir;  // "/D=...", absent when missing or empty
};

// Skips the program (quoted or not), then reads whitespace-separated switches until
// "/D=", which takes the rest of the line (trailing blanks removed). Unknown switches
// are ignored; switch names are case-sensitive. A "/D=" switch wrapped in double
// quotes as a whole (as shells quote an argument with a space) loses its quotes.
// Never fails.
SetupSwitches ParseSetupCommandLine(std::wstring_view command_line);

}  // namespace installer::demo
