#include "services/seem_access.h"

#include "link/byte_order.h"

#include <algorithm>

namespace p2k {

namespace {

constexpr uint16_t kSeemRead = 0x20;
constexpr uint16_t kSeemWrite = 0x2F;
constexpr uint16_t kRestart = 0x22;
constexpr uint16_t kSuspend = 0x36;

} // namespace

void SeemAccess::fillHeader(uint32_t seem, uint32_t record, uint32_t offset, uint32_t length)
{
    storeBe16(&request_[0], static_cast<uint16_t>(seem));
    storeBe16(&request_[2], static_cast<uint16_t>(record));
    storeBe16(&request_[4], static_cast<uint16_t>(offset));
    storeBe16(&request_[6], static_cast<uint16_t>(length));
}

int SeemAccess::readSeem(uint32_t seem, uint32_t record, uint32_t offset, uint32_t length,
                         std::span<uint8_t> answerBuffer)
{
    fillHeader(seem, record, offset, length);
    answerLength_ = 1;
    if (channel_.transact(kSeemRead, std::span(request_).first(kHeaderSize), answerBuffer, answerLength_) != kOk)
        return kFailed;
    // No byte at all counts as success; after a status-6 answer the preset
    // length of 1 makes the caller's own first byte the verdict.
    if (answerLength_ == 0 || answerBuffer.empty())
        return kOk;
    return answerBuffer[0] == 0 ? kOk : kFailed;
}

int SeemAccess::writeSeem(uint32_t seem, uint32_t record, uint32_t offset, uint32_t length)
{
    const uint32_t clamped = std::clamp<uint32_t>(length, 1, kDataBufferSize);
    fillHeader(seem, record, offset, clamped);
    answerLength_ = 1;
    if (channel_.transact(kSeemWrite, std::span(request_).first(kHeaderSize + clamped), writeAnswer_, answerLength_)
        != kOk)
        return kFailed;
    return writeAnswer_[0] == 0 ? kOk : kFailed;
}

int SeemAccess::restartPhone()
{
    return channel_.transact(kRestart, {}, scratchAnswer_, scratchLength_);
}

int SeemAccess::suspendPhone()
{
    const uint8_t sleepNow = 0x00;
    return channel_.transact(kSuspend, std::span(&sleepNow, 1), scratchAnswer_, scratchLength_);
}

} // namespace p2k
