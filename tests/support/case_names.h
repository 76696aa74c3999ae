#pragma once

#include <ostream>
#include <string_view>

namespace p2k::test {

// A parameterised case prints as its name (or label), so the test list
// reads the same in every run instead of showing the case's raw bytes.
// Test files bring these in with `using test::PrintTo;` beside their cases.
template <typename Case>
    requires requires(const Case& c) { std::string_view{c.name}; }
void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

template <typename Case>
    requires requires(const Case& c) { std::string_view{c.label}; }
void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.label;
}

} // namespace p2k::test
