#pragma once

#include <string>
#include <string_view>

namespace p2k {

// UTF-8 inside the program, UTF-16 at the Win32 boundary.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

} // namespace p2k
