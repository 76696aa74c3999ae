#pragma once

#include "sim/phone_config.h"

#include <ostream>

// The simulator's readings of unsettled answers print as their names in the
// test list, as the other parameterised cases do.
namespace p2k::sim {

inline void PrintTo(OpenRefusal reading, std::ostream* out)
{
    *out << (reading == OpenRefusal::ErrorStatus ? "ErrorStatus" : "FailureByte");
}

inline void PrintTo(WriteAcknowledge reading, std::ostream* out)
{
    *out << (reading == WriteAcknowledge::Done ? "Done" : "ByteSix");
}

inline void PrintTo(MissingSeemRecord reading, std::ostream* out)
{
    switch (reading) {
    case MissingSeemRecord::FailureByte: *out << "FailureByte"; return;
    case MissingSeemRecord::Done: *out << "Done"; return;
    case MissingSeemRecord::StatusByteOnly: *out << "StatusByteOnly"; return;
    }
}

} // namespace p2k::sim
