#pragma once

#include <string>
#include <vector>

namespace p2k::test {

// The text after each occurrence of label in a log, up to the next.
inline std::vector<std::string> segmentsAfter(const std::string& log, const std::string& label)
{
    std::vector<std::string> segments;
    for (size_t at = log.find(label); at != std::string::npos;) {
        const size_t next = log.find(label, at + label.size());
        segments.push_back(log.substr(at + label.size(), next - at - label.size()));
        at = next;
    }
    return segments;
}

} // namespace p2k::test
