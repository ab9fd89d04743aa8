// Whether the licence link may hand an address from the package description to the
// shell. The shell starts whatever it is given (a program path, a "file:" address, a
// registered protocol), so only web addresses go through.
#pragma once

#include <string_view>

namespace installer {

// True when `url` is an "http://" or "https://" address (scheme in any case) with a
// host, and holds no blank, control character or quotation mark that could make the
// shell read it as something else. Anything else, the empty text too, is false.
bool IsWebAddress(std::wstring_view url);

}  // namespace installer
