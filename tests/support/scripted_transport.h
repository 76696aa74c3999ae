#pragma once

#include "link/usb_transport.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace p2k::test {

using Bytes = std::vector<uint8_t>;

// One canned driver reply: how the request ends and the raw output it leaves
// (for a read: the 4-byte driver prefix, then the phone's bytes).
struct ScriptedReply {
    TransferOutcome outcome = TransferOutcome::Done;
    Bytes output;
};

struct RecordedTransfer {
    Bytes input;
    uint32_t timeoutMs = 0;
};

// A transport that records every request and plays queued replies in order.
// When the queue runs dry it plays the fallback reply, if one is set, else
// fails the transfer and counts it as unscripted.
class ScriptedTransport : public UsbTransport {
public:
    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t timeoutMs) override;
    // The usual number unless a test gives the transport another.
    uint16_t interfaceNumber() const override
    {
        return interfaceNumber_ ? *interfaceNumber_ : UsbTransport::interfaceNumber();
    }
    void setInterfaceNumber(uint16_t number) { interfaceNumber_ = number; }

    void queue(ScriptedReply reply) { replies_.push_back(std::move(reply)); }
    void setFallback(ScriptedReply reply) { fallback_ = std::move(reply); }

    const std::vector<RecordedTransfer>& transfers() const { return transfers_; }
    size_t unscripted() const { return unscripted_; }

private:
    std::deque<ScriptedReply> replies_;
    std::optional<ScriptedReply> fallback_;
    std::vector<RecordedTransfer> transfers_;
    size_t unscripted_ = 0;
    std::optional<uint16_t> interfaceNumber_;
};

// Replies spelled out field by field, independently of the channel's code.
ScriptedReply writeAccepted();
ScriptedReply failedWith(TransferOutcome outcome);
// A status answer: n answers, s bytes queued.
ScriptedReply statusReply(uint8_t n, uint16_t s);
// The raw bytes the phone sends for a data answer (no driver prefix).
class DataAnswer {
public:
    DataAnswer& withCount(uint8_t v) { count_ = v; return *this; }
    DataAnswer& withSequence(uint16_t word) { sequenceWord_ = word; return *this; } // flag and number
    DataAnswer& withStatus(uint8_t v) { status_ = v; return *this; }
    DataAnswer& withOpcode(uint16_t v) { opcode_ = v; return *this; }
    DataAnswer& withData(Bytes v) { data_ = std::move(v); return *this; }
    DataAnswer& withPacketLength(uint16_t v) { packetLength_ = v; return *this; } // L; default 8 + data
    DataAnswer& withDataLength(uint16_t v) { dataLength_ = v; return *this; }     // default data size
    const Bytes& data() const { return data_; }
    Bytes phoneBytes() const;

private:
    uint8_t count_ = 1;
    uint16_t sequenceWord_ = 0x8001;
    uint8_t status_ = 8;
    uint16_t opcode_ = 0x4A;
    Bytes data_;
    std::optional<uint16_t> packetLength_;
    std::optional<uint16_t> dataLength_;
};
ScriptedReply dataReply(const DataAnswer& answer);
// The phone's bytes behind the 4-byte driver prefix.
ScriptedReply rawReply(const Bytes& phoneBytes);

} // namespace p2k::test
