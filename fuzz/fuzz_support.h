#pragma once

// What the fuzz targets share: a reader over the fuzz input, the invariant
// check, and two phones that take their answers from the input: one at the
// driver level (raw outputs), one at the service level (status and data of
// each answer, wrapped in a correct wire exchange).

#include "link/clock.h"
#include "link/usb_transport.h"
#include "tests/support/phone_world.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The libFuzzer entry point every target defines; the replay runner calls it too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace p2k::fuzz {

using Bytes = std::vector<uint8_t>;

// Stops the run when an invariant does not hold, so that libFuzzer keeps the
// input as a crash and the replay test fails.
void require(bool condition, const char* invariant);

// Takes the fuzz input front to back; once it runs dry every read gives 0.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : bytes_(data, size) {}

    bool empty() const { return offset_ >= bytes_.size(); }
    size_t remaining() const { return bytes_.size() - offset_; }
    uint8_t u8();
    uint16_t be16();
    // Up to count bytes, fewer when the input ends first.
    std::span<const uint8_t> take(size_t count);
    std::string text(size_t count);

private:
    std::span<const uint8_t> bytes_;
    size_t offset_ = 0;
};

// How a transfer played from the input ends: the low bits of its first byte.
std::optional<TransferOutcome> playedFailure(uint8_t shape);

// The driver, played raw: every control transfer takes one shape byte (how
// it ends); a read that completes then takes a big-endian length and that
// many bytes of driver output (prefix included). A dry input is a phone that
// has gone silent: the transfer fails and the whole answer wait passes.
class PlayedTransport : public UsbTransport {
public:
    PlayedTransport(FuzzInput& input, FakeClock& clock) : input_(input), clock_(clock) {}

    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t timeoutMs) override;

    // The last data read of the current exchange, as the driver returned it.
    struct DataRead {
        TransferResult result;
        Bytes output;
    };
    std::optional<DataRead> lastDataRead;
    Bytes lastRequest;

private:
    FuzzInput& input_;
    FakeClock& clock_;
};

// One request as the phone received it, and what the input made it answer.
struct PlayedRequest {
    uint16_t opcode = 0;
    Bytes data;           // the request data after the command header
    bool answered = false; // false: the phone was silent
    uint8_t status = 0;   // answer status (6, 8 or an error)
    Bytes answer;         // answer data for status 8
    bool malformed = false; // the answer's sequence number was wrong
};

// True when the exchange went through: answered in sequence with status 6 or 8.
bool transactOk(const PlayedRequest& request);

// A phone that follows the wire protocol to the letter and lets the input
// decide each answer: a verdict byte, then for data answers a big-endian
// length and the data (at most what one read carries). Verdicts by their low
// three bits: 0-4 status 8 with data, 5 status 6, 6 an error status (high
// nibble; 6 and 8 become 7), 7 an answer with a wrong sequence number. A dry
// input is a silent phone: requests are not taken.
class AnswerPlayingTransport : public UsbTransport {
public:
    static constexpr size_t kMaxAnswerData = 4083;

    explicit AnswerPlayingTransport(FuzzInput& input) : input_(input) {}

    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t timeoutMs) override;

    const std::vector<PlayedRequest>& requests() const { return requests_; }
    // The requests of one opcode (and, for the file system, one subcommand).
    std::vector<const PlayedRequest*> requestsOf(uint16_t opcode, std::optional<uint32_t> subcommand = {}) const;

private:
    TransferResult takeRequest(std::span<const uint8_t> input, std::span<uint8_t> output);
    void decideAnswer(PlayedRequest& request);

    FuzzInput& input_;
    std::vector<PlayedRequest> requests_;
    Bytes statusOutput_;
    Bytes dataOutput_;
};

// A fake clock, built before the program that takes it.
struct PlayedClock {
    FakeClock clock;
};

// The program over an answer-playing phone that the link owns.
struct PlayedPhoneWorld : PlayedClock, test::ProgramWorld {
    explicit PlayedPhoneWorld(FuzzInput& input);

    AnswerPlayingTransport& phone;
};

// True when text is well-formed UTF-8 (what the log and PC names must be).
bool isUtf8(std::string_view text);

} // namespace p2k::fuzz
