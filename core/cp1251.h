#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace p2k {

// The phone speaks Windows-1251; the program keeps text in UTF-8. Names are
// converted only to show or log them: raw bytes go back to the phone.

// Every byte has a meaning (the one unassigned code, 0x98, shows as U+FFFD).
std::string cp1251ToUtf8(std::string_view cp1251);
char32_t cp1251ToCodePoint(unsigned char byte);

// Empty when the text has a character Windows-1251 cannot express, or is not
// valid UTF-8.
std::optional<std::string> utf8ToCp1251(std::string_view utf8);

} // namespace p2k
