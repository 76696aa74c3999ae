#pragma once

#include <functional>
#include <string_view>

namespace p2k {

// A short session with the built-in demo phone: a few test commands with
// their wire trace, log texts and results, printed line by line. Returns 0
// when every exchange went as the demo phone should answer.
int runDemoSession(const std::function<void(std::string_view)>& print);

} // namespace p2k
