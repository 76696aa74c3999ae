#pragma once

#include "tests/support/bytes.h"

#include <cstddef>

namespace p2k::test {

// The profiles record as the ringtone update must write it back: the same
// length, with 0x02 at each ringtone offset the record reaches.
inline Bytes patchedProfiles(Bytes profiles)
{
    for (size_t offset : {1, 2, 12, 13, 23, 24, 34, 35, 45, 46}) {
        if (offset < profiles.size())
            profiles[offset] = 0x02;
    }
    return profiles;
}

} // namespace p2k::test
