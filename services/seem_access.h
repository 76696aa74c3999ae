#pragma once

#include "link/test_command_channel.h"

#include <array>
#include <cstdint>
#include <span>

namespace p2k {

// SEEM records (the phone's numbered settings) and the two handset commands.
// Every operation is one request; the channel logs what goes wrong.
class SeemAccess {
public:
    static constexpr size_t kHeaderSize = 8;
    // The SEEM data buffer, and so the longest write.
    static constexpr size_t kDataBufferSize = 10000;
    // The largest answer one driver read delivers; read answer buffers hold it.
    static constexpr size_t kMaxAnswer = TestCommandChannel::kMaxAnswerData;

    explicit SeemAccess(TestCommandChannel& channel) : channel_(channel) {}

    // Reads a record (offset 0, length 0: the whole record) into answerBuffer:
    // status byte first, then the record. answerBuffer is not cleared. 0 when
    // the request succeeds and the status byte is 0 (or no byte came), else -1.
    int readSeem(uint32_t seem, uint32_t record, uint32_t offset, uint32_t length, std::span<uint8_t> answerBuffer);

    // Writes the first length bytes of the data buffer (0 counts as 1, at most
    // the buffer). 0 when the request succeeds and the answer's first byte is 0.
    int writeSeem(uint32_t seem, uint32_t record, uint32_t offset, uint32_t length);

    int restartPhone();
    int suspendPhone();

    // Bytes in the last read's answer (status byte included); preset to 1
    // before every SEEM request. Callers may read and change it.
    uint32_t& answerLength() { return answerLength_; }
    // Where a caller puts the bytes for writeSeem.
    std::span<uint8_t, kDataBufferSize> dataBuffer() { return std::span<uint8_t, kDataBufferSize>(request_.data() + kHeaderSize, kDataBufferSize); }

private:
    void fillHeader(uint32_t seem, uint32_t record, uint32_t offset, uint32_t length);

    TestCommandChannel& channel_;
    // The header and the data buffer form one contiguous write request.
    std::array<uint8_t, kHeaderSize + kDataBufferSize> request_{};
    uint32_t answerLength_ = 0;
    // Only its first byte is judged; it keeps that byte between writes.
    std::array<uint8_t, kMaxAnswer> writeAnswer_{};
    std::array<uint8_t, 4096> scratchAnswer_{};
    uint32_t scratchLength_ = 0;
};

} // namespace p2k
