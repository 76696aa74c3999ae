#pragma once

#include "core/operator_log.h"
#include "link/clock.h"
#include "link/phone_link.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace p2k {

// Results of transact and of the services built on it.
inline constexpr int kOk = 0;
inline constexpr int kFailed = -1;
inline constexpr int kMalformed = 1;

// Called before every driver request of a command: lets the front end keep
// its window alive while a long command runs.
class RequestGate {
public:
    virtual ~RequestGate() = default;
    virtual void beforeRequest() = 0;
};

// Carries one test command at a time to the phone and brings back its answer.
class TestCommandChannel {
public:
    static constexpr size_t kRequestBufferSize = 4096;
    static constexpr size_t kReadBufferSize = 4097;
    static constexpr size_t kHeaderSize = 8;
    // Room left for request data after setup block, header and two zero bytes.
    static constexpr size_t kMaxRequestData = kRequestBufferSize - 2 * kHeaderSize - 2;
    // The largest answer data one driver read can carry.
    static constexpr size_t kMaxAnswerData = kReadBufferSize - 14;
    static constexpr uint32_t kAnswerWaitMs = 40000;

    TestCommandChannel(PhoneLink& link, OperatorLog& log, Clock& clock)
        : link_(link), log_(log), clock_(clock) {}

    // Sends opcode (low 12 bits) with request, waits for the answer.
    // 0: success. On status 8 the answer data is copied to answerBuffer and
    //    answerLength is set; on status 6 neither is touched.
    // -1: transport failure, time-out, error status, or a request too long.
    // 1: an answer of the wrong shape.
    int transact(uint16_t opcode, std::span<const uint8_t> request, std::span<uint8_t> answerBuffer,
                 uint32_t& answerLength);

    uint16_t sequenceCounter() const { return sequence_; }

    void setRequestGate(RequestGate* gate) { gate_ = gate; }

    // The front end's interrupt flag (Ctrl-C, Esc, the close box).
    void setInterruptFlag(const std::atomic<bool>* flag) { interrupt_ = flag; }
    bool interruptRaised() const { return interrupt_ != nullptr && interrupt_->load(); }

    // True when the running command must stop at this point: the operator
    // interrupted it, or the phone is gone (which is logged here, once).
    // Requests that clean up after an interrupt still go through; once the
    // phone is gone, every request fails at once.
    bool stopRequested();

    // At the end of a command: logs that the operator interrupted it, on a
    // line of its own; true then.
    bool reportInterrupted();

    // The driver requests beneath transact, with their "USB: ..." texts.
    // controlRead sends the setup block at the start of buffer and copies the
    // data the phone sent (driver prefix removed) over buffer.
    int controlWrite(UsbTransport* device, std::span<const uint8_t> packet);
    int controlRead(UsbTransport* device, std::span<uint8_t> buffer, size_t& lengthOut);

private:
    int exchange(UsbTransport* device, uint16_t opcode, std::span<const uint8_t> request,
                 std::span<uint8_t> answerBuffer, uint32_t& answerLength);
    bool pollForAnswer(UsbTransport* device, uint8_t& count, uint16_t& queuedBytes);
    int judgeAnswer(size_t received, std::span<uint8_t> answerBuffer, uint32_t& answerLength);
    bool noteOutcome(TransferOutcome outcome);
    void noteTransportText(std::string_view text);
    void flushRepeats();
    int failStep(const char* text);
    bool phoneGone();

    PhoneLink& link_;
    OperatorLog& log_;
    Clock& clock_;
    uint16_t sequence_ = 0;
    RequestGate* gate_ = nullptr;
    const std::atomic<bool>* interrupt_ = nullptr;
    bool goneReported_ = false;
    // The last transport text logged in this request, and how often it came.
    std::string_view repeatedText_;
    uint32_t repeatCount_ = 0;
    std::array<uint8_t, kRequestBufferSize> request_{};
    std::array<uint8_t, kReadBufferSize> status_{};
    std::array<uint8_t, kReadBufferSize> answer_{};
    std::array<uint8_t, usb::kDriverOutputSize> driverOutput_{};
};

} // namespace p2k
