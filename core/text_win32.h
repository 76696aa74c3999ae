#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace p2k {

// UTF-8 inside the program, UTF-16 at the Win32 boundary.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// The command line in UTF-8, the program's name first: argv holds only what
// the ANSI code page can carry. Empty when Windows cannot split it.
std::vector<std::string> utf8CommandLine();

} // namespace p2k
