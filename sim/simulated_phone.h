#pragma once

#include "link/clock.h"
#include "link/usb_transport.h"
#include "sim/phone_config.h"
#include "sim/sim_file_system.h"
#include "sim/sim_seem_store.h"
#include "sim/sim_wire.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace p2k::sim {

// Ways to make the phone misbehave, one request at a time.
enum class Fault {
    ErrorStatus,        // the answer carries status `value` and no data; the request is not carried out
    WrongSequence,      // the echoed sequence number is one more than the request's
    AnswerCountTwo,     // the data answer's count byte is 2
    ClearedAnswerFlag,  // bit 15 of the sequence field is cleared
    DataLengthOffByOne, // the data length field is L-8-1, 0xFFFF for an answer without data (status forced to 8)
    LostAnswer,         // the answer never appears: status polls keep reporting n = 0
    OneByteAnswer,      // the answer data is the single byte `value` (status 8)
    OversizedAnswer,    // the answer data is padded with zeros to 4083 bytes, the most one read carries;
                        // the status stays as it was
    TruncatedAnswer,    // the data read delivers the answer head and only half of the answer data
    ShortDriverRead,    // the data read's driver output is only 3 bytes (less than the driver prefix)
    StatusCountThree,   // status polls report n = 3 for this answer, so the host must not read it
    StatusCountTwo,     // status polls report n = 2 for this answer; the data read hands it out with its count
                        // byte 1, or 2 when `value` is 2
    UnplugMidRequest,   // the phone detaches right after receiving the request; nothing is carried out
};

struct FaultSpec {
    Fault fault;
    uint8_t value = 0;
    // Requests to let through untouched before this fault strikes.
    uint32_t afterRequests = 0;
};

class SimTransport;

// A P2K phone on USB, answering at the wire level: it takes requests, status
// polls and data reads as control transfers through the UsbTransport handles
// that open() gives out, keeps a file system and SEEM records, restarts,
// suspends, and can misbehave on request. It checks what the host sends
// strictly and records every breach in violations().
//
// Thread-safe: every member locks the phone, so a monitor thread may watch
// attached() while another thread transfers. The phone must outlive the
// handles it gave out only in the sense that a handle of a destroyed phone
// fails every transfer.
class SimulatedPhone {
public:
    explicit SimulatedPhone(Clock& clock, PhoneConfig config = {});
    SimulatedPhone(const SimulatedPhone&) = delete;
    SimulatedPhone& operator=(const SimulatedPhone&) = delete;

    // Opens the command interface: a transport bound to the current
    // attachment. nullptr while the phone is away (unplugged or restarting)
    // or in modem mode. A handle from before a detach fails every transfer,
    // also after the phone has returned. The new host's first sequence
    // number is not held against the previous host's last one.
    std::unique_ptr<UsbTransport> open();
    bool attached() const;
    void unplug();
    void plugIn();
    // Changes whenever the phone detaches; handles work only under the id
    // they were opened with.
    uint64_t attachmentId() const;

    bool modemMode() const;
    void switchToCommandMode();
    bool suspended() const;
    int restartCount() const;

    // Content, for tests and the demo.
    void addFile(SimFile file);
    const SimFile* findFile(std::string_view name) const;
    std::vector<SimFile> files() const; // in list order
    bool fileOpen() const;
    uint32_t freeSpace() const;
    void setSeemRecord(uint16_t seem, uint16_t record, std::vector<uint8_t> bytes);
    const std::vector<uint8_t>* seemRecord(uint16_t seem, uint16_t record) const;
    size_t seemRecordCount() const;
    std::vector<uint16_t> seemNumbers() const; // the SEEM numbers that have records, ascending
    struct SeemRecordCopy {
        uint16_t seem;
        uint16_t record;
        std::vector<uint8_t> bytes;
    };
    std::vector<SeemRecordCopy> seemRecords() const; // every record, in SEEM and record order

    // FIFO: each queued fault applies to the next request's answer.
    void injectFault(FaultSpec fault);
    size_t queuedFaultCount() const;
    // Protocol breaches seen from the host; empty for a correct host.
    const std::vector<std::string>& violations() const;
    uint64_t transferCount() const; // control transfers received on a live handle
    uint64_t requestCount() const;  // of them, host-to-phone requests
    const PhoneConfig& config() const;

private:
    friend class SimTransport;

    struct QueuedAnswer {
        std::vector<uint8_t> bytes; // as a data read hands them out
        uint16_t packetLength = 0;  // L, reported as the queued byte count
        uint32_t requestTick = 0;
        AnswerDelivery delivery;
        bool restartsPhone = false;
    };

    TransferResult transfer(uint64_t attachment, std::span<const uint8_t> input, std::span<uint8_t> output);
    TransferResult receiveRequest(const SetupBlock& setup, std::span<const uint8_t> input,
                                  std::span<uint8_t> output);
    TransferResult answerStatusPoll(const SetupBlock& setup, std::span<const uint8_t> input,
                                    std::span<uint8_t> output);
    TransferResult handOutAnswer(const SetupBlock& setup, std::span<const uint8_t> input,
                                 std::span<uint8_t> output);
    TransferResult refuse(std::string violation);
    void acceptRequest(const CommandHeader& header, std::span<const uint8_t> data);

    ServiceReply execute(uint16_t opcode, std::span<const uint8_t> data);
    ServiceReply suspend(std::span<const uint8_t> data);
    void noteSequence(uint16_t sequence);
    std::optional<FaultSpec> takeFault();
    void queueAnswer(const CommandHeader& header, ServiceReply reply, const std::optional<FaultSpec>& fault,
                     bool restartsPhone);
    bool answerVisible() const;
    bool answerOwed() const;

    bool away() const;
    bool attachedLocked() const;
    bool commandInterfaceUp() const;
    void settleRestart();
    void detach();
    void beginRestart();

    Clock& clock_;
    const PhoneConfig config_;
    mutable std::mutex mutex_;
    SimFileSystem fileSystem_;
    SimSeemStore seems_;
    std::deque<FaultSpec> faults_;
    std::optional<QueuedAnswer> queued_;
    std::optional<uint16_t> lastSequence_;
    std::vector<std::string> violations_;
    uint64_t transferCount_ = 0;
    uint64_t requestCount_ = 0;
    uint64_t attachmentId_ = 1;
    bool unplugged_ = false;
    bool modemMode_;
    bool suspended_ = false;
    bool restarting_ = false;
    uint32_t restartTick_ = 0;
    int restartCount_ = 0;
    // Handles reach the phone through this; when the phone is gone, they fail.
    std::shared_ptr<SimulatedPhone*> self_;
};

} // namespace p2k::sim
