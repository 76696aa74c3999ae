#pragma once

// The phone's side of the test command wire: what a setup block and a command
// header look like when they arrive, the answer statuses, and how one queued
// answer is laid out in the data the phone hands to a data read.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace p2k::sim {

// Answer statuses the phone uses.
namespace status {
inline constexpr uint8_t kInvalidDataLength = 0;
inline constexpr uint8_t kInvalidOpcode = 4;
inline constexpr uint8_t kInvalidParameter = 5;
inline constexpr uint8_t kDone = 6; // success, no answer data
inline constexpr uint8_t kGenericFailure = 7;
inline constexpr uint8_t kData = 8; // success with answer data
} // namespace status

// Opcodes the phone serves.
namespace opcode {
inline constexpr uint16_t kSeemRead = 0x20;
inline constexpr uint16_t kRestart = 0x22;
inline constexpr uint16_t kSeemWrite = 0x2F;
inline constexpr uint16_t kSuspend = 0x36;
inline constexpr uint16_t kFileSystem = 0x4A;
} // namespace opcode

namespace wire {
inline constexpr size_t kSetupSize = 8;
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kTrailerSize = 2;            // two zero bytes after the request data
inline constexpr size_t kRequestOverhead = kSetupSize + kHeaderSize + kTrailerSize;
inline constexpr size_t kMaxRequestData = 4078;      // what the host's request buffer leaves
inline constexpr size_t kDriverPrefixSize = 4;
inline constexpr size_t kInTransferInputSize = kSetupSize + 1; // setup block and one zero byte
inline constexpr size_t kStatusAnswerSize = 8;
inline constexpr size_t kMaxControlData = 4096; // the most a Linux host reads in one control transfer
inline constexpr size_t kWriteStatusSize = 5;
inline constexpr size_t kCountBlockSize = 4;         // answer count byte and three more
inline constexpr size_t kAnswerHeadSize = kCountBlockSize + 2 + kHeaderSize; // up to the answer data
inline constexpr size_t kMaxAnswerData = 4083;       // one driver read of 4101 bytes, less prefix and head
inline constexpr uint8_t kRequestTypeOut = 0x41;
inline constexpr uint8_t kRequestTypeIn = 0xC1;
inline constexpr uint8_t kRequestCommand = 0x02;
inline constexpr uint8_t kRequestStatus = 0x00;
inline constexpr uint8_t kRequestData = 0x01;
inline constexpr uint16_t kAnswerFlag = 0x8000;
inline constexpr uint16_t kTwelveBits = 0x0FFF;
} // namespace wire

// What a service hands back for one request.
struct ServiceReply {
    uint8_t status = status::kDone;
    std::vector<uint8_t> data;
};

ServiceReply replyDone();
ServiceReply replyData(std::vector<uint8_t> data);
ServiceReply replyStatus(uint8_t answerStatus);
// The one-byte answer the file system and SEEM services use to say "failed".
ServiceReply replyByte(uint8_t value);

// The USB setup block, little-endian on the wire.
struct SetupBlock {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};

// The test command header, big-endian on the wire.
struct CommandHeader {
    uint16_t sequence = 0;
    uint16_t opcode = 0;
    uint16_t dataLength = 0;
    uint16_t reserved = 0;
};

// Both need at least 8 bytes at the given place; callers check.
SetupBlock decodeSetupBlock(std::span<const uint8_t> input);
CommandHeader decodeCommandHeader(std::span<const uint8_t> headerBytes);

// One answer as it will go out, with the knobs faults use to bend it.
struct AnswerPacket {
    uint16_t sequence = 0; // the request's, low 12 bits
    uint16_t opcode = 0;
    uint8_t status = status::kDone;
    std::vector<uint8_t> data;
    uint8_t answerCount = 1;
    bool answerFlag = true;
    uint16_t sequenceShift = 0;       // added to the echoed sequence number
    uint16_t dataLengthShortfall = 0; // subtracted from the data length field
};

// How a queued answer reaches the host; faults bend these too.
struct AnswerDelivery {
    uint8_t reportedCount = 1;    // n in the status poll
    bool truncated = false;       // the data read carries only half of the answer data
    bool shortDriverRead = false; // the data read's driver output stops inside the prefix
};

// L: the packet's header (8) plus its data.
size_t packetLength(const AnswerPacket& packet);

// The data a read hands out for one answer: the count block, L, the packet
// header and the data; L + 6 bytes.
std::vector<uint8_t> encodeDataAnswer(const AnswerPacket& packet);

} // namespace p2k::sim
