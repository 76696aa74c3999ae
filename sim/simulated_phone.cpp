#include "sim/simulated_phone.h"

#include "sim/sim_bytes.h"

#include <algorithm>
#include <utility>

namespace p2k::sim {

// The handle open() gives out: it reaches the phone only while the phone
// exists, and the phone honours it only under the attachment it was made for.
class SimTransport final : public UsbTransport {
public:
    SimTransport(std::weak_ptr<SimulatedPhone*> phone, uint64_t attachment, uint8_t interfaceNumber)
        : phone_(std::move(phone)), attachment_(attachment), interfaceNumber_(interfaceNumber) {}

    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t /*timeoutMs: the phone answers at once*/) override
    {
        const std::shared_ptr<SimulatedPhone*> phone = phone_.lock();
        if (!phone)
            return TransferResult{TransferOutcome::Gone, 0};
        return (*phone)->transfer(attachment_, input, output);
    }

    // The handle belongs to the command interface, and knows its number as a
    // driver does.
    uint16_t interfaceNumber() const override { return interfaceNumber_; }

private:
    std::weak_ptr<SimulatedPhone*> phone_;
    uint64_t attachment_;
    uint8_t interfaceNumber_;
};

namespace {

constexpr size_t kShortDriverReadBytes = 3;

TransferResult failed()
{
    return TransferResult{TransferOutcome::Failed, 0};
}

std::string hexText(uint32_t value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + digits;
}

std::string mismatch(const char* what, uint32_t got, uint32_t expected)
{
    return std::string(what) + " " + std::to_string(got) + " (expected " + std::to_string(expected) + ")";
}

// Copies raw driver output into the host's buffer, never past its end.
TransferResult copyOut(std::span<const uint8_t> raw, std::span<uint8_t> output)
{
    const size_t count = std::min(raw.size(), output.size());
    std::copy_n(raw.begin(), count, output.begin());
    return TransferResult{TransferOutcome::Done, count};
}

// The raw output of an IN transfer: the driver prefix, then what the phone sent.
std::vector<uint8_t> driverOutput(std::span<const uint8_t> sent, size_t outputRoom)
{
    const size_t dataRoom = outputRoom > wire::kDriverPrefixSize ? outputRoom - wire::kDriverPrefixSize : 0;
    const size_t carried = std::min(sent.size(), dataRoom);
    std::vector<uint8_t> raw(wire::kDriverPrefixSize + carried);
    // guessed: the prefix is the little-endian count of the data bytes after it.
    simStoreLe32(raw.data(), static_cast<uint32_t>(carried));
    std::copy_n(sent.begin(), carried, raw.begin() + wire::kDriverPrefixSize);
    return raw;
}

TransferResult deliverIn(std::span<const uint8_t> sent, std::span<uint8_t> output)
{
    return copyOut(driverOutput(sent, output.size()), output);
}

// The short status block the driver gives back for a host-to-phone transfer.
TransferResult writeStatusBlock(std::span<uint8_t> output)
{
    const std::vector<uint8_t> zeros(wire::kWriteStatusSize, 0);
    return copyOut(zeros, output);
}

std::string setupProblem(const SetupBlock& setup, std::span<const uint8_t> input, uint8_t commandInterface)
{
    if (setup.request != wire::kRequestCommand)
        return "request: bRequest " + hexText(setup.request) + " (expected 0x2)";
    if (setup.value != 0)
        return mismatch("request: wValue", setup.value, 0);
    if (setup.index != commandInterface)
        return mismatch("request: wIndex", setup.index, commandInterface);
    if (input.size() < wire::kRequestOverhead)
        return "request: " + std::to_string(input.size()) + " bytes, too short for setup block, header and trailer";
    if (setup.length != input.size() - wire::kSetupSize - wire::kTrailerSize)
        return mismatch("request: wLength", setup.length,
                        static_cast<uint32_t>(input.size() - wire::kSetupSize - wire::kTrailerSize));
    return {};
}

std::string headerProblem(const CommandHeader& header, std::span<const uint8_t> input)
{
    const size_t dataBytes = input.size() - wire::kRequestOverhead;
    if (header.dataLength != dataBytes)
        return mismatch("request: header data length", header.dataLength, static_cast<uint32_t>(dataBytes));
    if (dataBytes > wire::kMaxRequestData)
        return "request: " + std::to_string(dataBytes) + " data bytes, more than " +
               std::to_string(wire::kMaxRequestData);
    if (header.reserved != 0)
        return "request: header bytes 6-7 are " + hexText(header.reserved) + " (expected 0)";
    if (header.sequence > wire::kTwelveBits)
        return "request: sequence number " + hexText(header.sequence) + " uses more than 12 bits";
    if (header.opcode > wire::kTwelveBits)
        return "request: opcode " + hexText(header.opcode) + " uses more than 12 bits";
    if (input[input.size() - 2] != 0 || input[input.size() - 1] != 0)
        return "request: the two bytes after the data are not zero";
    return {};
}

// Checks shared by the status poll and the data read.
std::string inTransferProblem(const char* what, std::span<const uint8_t> input, const SetupBlock& setup,
                              uint8_t commandInterface)
{
    if (input.size() != wire::kInTransferInputSize)
        return mismatch((std::string(what) + ": input of").c_str(), static_cast<uint32_t>(input.size()),
                        static_cast<uint32_t>(wire::kInTransferInputSize));
    if (input[wire::kSetupSize] != 0)
        return std::string(what) + ": the byte after the setup block is not zero";
    if (setup.index != commandInterface)
        return mismatch((std::string(what) + ": wIndex").c_str(), setup.index, commandInterface);
    return {};
}

// The counts of queued answers a host may read.
bool readableCount(uint8_t reportedCount)
{
    return reportedCount == 1 || reportedCount == 2;
}

bool is(const std::optional<FaultSpec>& fault, Fault kind)
{
    return fault && fault->fault == kind;
}

// Bends the answer, or the way it is delivered, as the fault says.
void applyFault(const FaultSpec& fault, AnswerPacket& packet, AnswerDelivery& delivery)
{
    switch (fault.fault) {
    case Fault::ErrorStatus:
        packet.status = fault.value;
        packet.data.clear();
        break;
    case Fault::WrongSequence: packet.sequenceShift = 1; break;
    case Fault::AnswerCountTwo: packet.answerCount = 2; break;
    case Fault::ClearedAnswerFlag: packet.answerFlag = false; break;
    case Fault::DataLengthOffByOne:
        packet.status = status::kData;
        packet.dataLengthShortfall = 1;
        break;
    case Fault::OneByteAnswer:
        packet.status = status::kData;
        packet.data.assign(1, fault.value);
        break;
    case Fault::OversizedAnswer:
        packet.data.resize(std::max(packet.data.size(), wire::kMaxAnswerData), 0);
        break;
    case Fault::TruncatedAnswer: delivery.truncated = true; break;
    case Fault::ShortDriverRead: delivery.shortDriverRead = true; break;
    case Fault::StatusCountThree: delivery.reportedCount = 3; break;
    case Fault::StatusCountTwo:
        delivery.reportedCount = 2;
        // guessed: what the count byte of such an answer says; the fault gives either.
        packet.answerCount = fault.value == 2 ? 2 : 1;
        break;
    case Fault::LostAnswer:       // never queued
    case Fault::UnplugMidRequest: // never carried out
        break;
    }
}

} // namespace

SimulatedPhone::SimulatedPhone(Clock& clock, PhoneConfig config)
    : clock_(clock),
      config_(std::move(config)),
      fileSystem_(config_),
      seems_(config_.missingSeemRecord),
      modemMode_(config_.startInModemMode),
      self_(std::make_shared<SimulatedPhone*>(this))
{
}

// ---- attachment ---------------------------------------------------------

bool SimulatedPhone::away() const
{
    return restarting_ && clock_.tickMs() - restartTick_ < config_.restartDowntimeMs;
}

bool SimulatedPhone::attachedLocked() const
{
    return !unplugged_ && !away();
}

bool SimulatedPhone::commandInterfaceUp() const
{
    return attachedLocked() && !modemMode_;
}

void SimulatedPhone::settleRestart()
{
    if (restarting_ && !away())
        restarting_ = false;
}

void SimulatedPhone::detach()
{
    ++attachmentId_;
    queued_.reset();
    lastSequence_.reset();
    fileSystem_.endSession();
}

void SimulatedPhone::beginRestart()
{
    detach();
    restarting_ = true;
    restartTick_ = clock_.tickMs();
    suspended_ = false;
    ++restartCount_;
}

std::unique_ptr<UsbTransport> SimulatedPhone::open()
{
    std::lock_guard lock(mutex_);
    settleRestart();
    if (!commandInterfaceUp())
        return nullptr;
    lastSequence_.reset(); // a new host counts from 1 again
    return std::make_unique<SimTransport>(self_, attachmentId_, config_.commandInterface);
}

bool SimulatedPhone::attached() const
{
    std::lock_guard lock(mutex_);
    return attachedLocked();
}

void SimulatedPhone::unplug()
{
    std::lock_guard lock(mutex_);
    if (!unplugged_)
        detach();
    unplugged_ = true;
}

void SimulatedPhone::plugIn()
{
    std::lock_guard lock(mutex_);
    unplugged_ = false;
}

uint64_t SimulatedPhone::attachmentId() const
{
    std::lock_guard lock(mutex_);
    return attachmentId_;
}

bool SimulatedPhone::modemMode() const
{
    std::lock_guard lock(mutex_);
    return modemMode_;
}

void SimulatedPhone::switchToCommandMode()
{
    std::lock_guard lock(mutex_);
    modemMode_ = false;
}

bool SimulatedPhone::suspended() const
{
    std::lock_guard lock(mutex_);
    return suspended_;
}

int SimulatedPhone::restartCount() const
{
    std::lock_guard lock(mutex_);
    return restartCount_;
}

// ---- content ------------------------------------------------------------

void SimulatedPhone::addFile(SimFile file)
{
    std::lock_guard lock(mutex_);
    fileSystem_.addFile(std::move(file));
}

const SimFile* SimulatedPhone::findFile(std::string_view name) const
{
    std::lock_guard lock(mutex_);
    return fileSystem_.findFile(name);
}

std::vector<SimFile> SimulatedPhone::files() const
{
    std::lock_guard lock(mutex_);
    return fileSystem_.files();
}

bool SimulatedPhone::fileOpen() const
{
    std::lock_guard lock(mutex_);
    return fileSystem_.fileOpen();
}

uint32_t SimulatedPhone::freeSpace() const
{
    std::lock_guard lock(mutex_);
    return fileSystem_.freeSpace();
}

void SimulatedPhone::setSeemRecord(uint16_t seem, uint16_t record, std::vector<uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    seems_.set(seem, record, std::move(bytes));
}

const std::vector<uint8_t>* SimulatedPhone::seemRecord(uint16_t seem, uint16_t record) const
{
    std::lock_guard lock(mutex_);
    return seems_.find(seem, record);
}

size_t SimulatedPhone::seemRecordCount() const
{
    std::lock_guard lock(mutex_);
    return seems_.count();
}

std::vector<SimulatedPhone::SeemRecordCopy> SimulatedPhone::seemRecords() const
{
    std::lock_guard lock(mutex_);
    std::vector<SeemRecordCopy> copies;
    for (const auto& [key, bytes] : seems_.records())
        copies.push_back({key.first, key.second, bytes});
    return copies;
}

std::vector<uint16_t> SimulatedPhone::seemNumbers() const
{
    std::lock_guard lock(mutex_);
    std::vector<uint16_t> numbers;
    for (const auto& [key, bytes] : seems_.records())
        if (numbers.empty() || numbers.back() != key.first)
            numbers.push_back(key.first);
    return numbers;
}

void SimulatedPhone::injectFault(FaultSpec fault)
{
    std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

size_t SimulatedPhone::queuedFaultCount() const
{
    std::lock_guard lock(mutex_);
    return faults_.size();
}

const std::vector<std::string>& SimulatedPhone::violations() const
{
    std::lock_guard lock(mutex_);
    return violations_;
}

uint64_t SimulatedPhone::transferCount() const
{
    std::lock_guard lock(mutex_);
    return transferCount_;
}

uint64_t SimulatedPhone::requestCount() const
{
    std::lock_guard lock(mutex_);
    return requestCount_;
}

const PhoneConfig& SimulatedPhone::config() const
{
    return config_;
}

// ---- the wire -----------------------------------------------------------

TransferResult SimulatedPhone::transfer(uint64_t attachment, std::span<const uint8_t> input,
                                        std::span<uint8_t> output)
{
    // The time the bus and the phone take for one control transfer.
    if (config_.transferDelayMs > 0)
        clock_.sleepMs(config_.transferDelayMs);
    std::lock_guard lock(mutex_);
    settleRestart();
    // A handle from before a detach belongs to a device that is gone.
    if (attachment != attachmentId_)
        return TransferResult{TransferOutcome::Gone, 0};
    if (!commandInterfaceUp())
        return failed();
    ++transferCount_;
    if (input.size() < wire::kSetupSize)
        return refuse("transfer: " + std::to_string(input.size()) + " bytes, shorter than a setup block");

    const SetupBlock setup = decodeSetupBlock(input);
    if (setup.requestType == wire::kRequestTypeOut) {
        ++requestCount_;
        return receiveRequest(setup, input, output);
    }
    if (setup.requestType == wire::kRequestTypeIn && setup.request == wire::kRequestStatus)
        return answerStatusPoll(setup, input, output);
    if (setup.requestType == wire::kRequestTypeIn && setup.request == wire::kRequestData)
        return handOutAnswer(setup, input, output);
    return refuse("transfer: request type " + hexText(setup.requestType) + " with request " +
                  hexText(setup.request) + " is not part of the protocol");
}

TransferResult SimulatedPhone::refuse(std::string violation)
{
    violations_.push_back(std::move(violation));
    return failed();
}

TransferResult SimulatedPhone::receiveRequest(const SetupBlock& setup, std::span<const uint8_t> input,
                                              std::span<uint8_t> output)
{
    if (std::string problem = setupProblem(setup, input, config_.commandInterface); !problem.empty())
        return refuse(std::move(problem));
    const CommandHeader header = decodeCommandHeader(input.subspan(wire::kSetupSize, wire::kHeaderSize));
    if (std::string problem = headerProblem(header, input); !problem.empty())
        return refuse(std::move(problem));

    acceptRequest(header, input.subspan(wire::kSetupSize + wire::kHeaderSize, header.dataLength));
    return writeStatusBlock(output);
}

void SimulatedPhone::acceptRequest(const CommandHeader& header, std::span<const uint8_t> data)
{
    if (answerOwed())
        violations_.push_back("request: sent while the previous answer is still queued");
    queued_.reset();
    noteSequence(header.sequence);
    suspended_ = false; // any request wakes the phone

    const std::optional<FaultSpec> fault = takeFault();
    if (is(fault, Fault::UnplugMidRequest)) {
        unplugged_ = true;
        detach();
        return;
    }
    ServiceReply reply = is(fault, Fault::ErrorStatus) ? replyStatus(fault->value) : execute(header.opcode, data);
    const bool restarts = header.opcode == opcode::kRestart && reply.status == status::kDone;
    if (is(fault, Fault::LostAnswer)) {
        if (restarts)
            beginRestart();
        return;
    }
    queueAnswer(header, std::move(reply), fault, restarts);
}

void SimulatedPhone::noteSequence(uint16_t sequence)
{
    if (lastSequence_ == sequence)
        violations_.push_back("request: sequence number " + hexText(sequence) + " repeats the previous request's");
    lastSequence_ = sequence;
}

std::optional<FaultSpec> SimulatedPhone::takeFault()
{
    if (faults_.empty())
        return std::nullopt;
    if (faults_.front().afterRequests > 0) {
        --faults_.front().afterRequests;
        return std::nullopt;
    }
    const FaultSpec fault = faults_.front();
    faults_.pop_front();
    return fault;
}

ServiceReply SimulatedPhone::execute(uint16_t requestOpcode, std::span<const uint8_t> data)
{
    switch (requestOpcode) {
    case opcode::kFileSystem: return fileSystem_.handle(data);
    case opcode::kSeemRead: return seems_.read(data);
    case opcode::kSeemWrite: return seems_.write(data);
    case opcode::kRestart:
        // guessed: restart takes no request data and refuses any as a length error.
        return data.empty() ? replyDone() : replyStatus(status::kInvalidDataLength);
    case opcode::kSuspend: return suspend(data);
    default: return replyStatus(status::kInvalidOpcode);
    }
}

ServiceReply SimulatedPhone::suspend(std::span<const uint8_t> data)
{
    // guessed: a wrong length is a length error, a non-zero byte an invalid parameter.
    if (data.size() != 1)
        return replyStatus(status::kInvalidDataLength);
    if (data[0] != 0)
        return replyStatus(status::kInvalidParameter);
    suspended_ = true;
    return replyDone();
}

void SimulatedPhone::queueAnswer(const CommandHeader& header, ServiceReply reply,
                                 const std::optional<FaultSpec>& fault, bool restartsPhone)
{
    AnswerPacket packet;
    packet.sequence = header.sequence;
    packet.opcode = header.opcode;
    packet.status = reply.status;
    packet.data = std::move(reply.data);
    AnswerDelivery delivery;
    if (fault)
        applyFault(*fault, packet, delivery);

    QueuedAnswer answer;
    answer.bytes = encodeDataAnswer(packet);
    answer.packetLength = static_cast<uint16_t>(packetLength(packet));
    answer.requestTick = clock_.tickMs();
    answer.delivery = delivery;
    answer.restartsPhone = restartsPhone;
    queued_ = std::move(answer);
}

bool SimulatedPhone::answerVisible() const
{
    return queued_ && clock_.tickMs() - queued_->requestTick >= config_.answerDelayMs;
}

// An answer the host has been told about and could take: sending the next
// request before reading it is the host's mistake.
bool SimulatedPhone::answerOwed() const
{
    return answerVisible() && readableCount(queued_->delivery.reportedCount);
}

TransferResult SimulatedPhone::answerStatusPoll(const SetupBlock& setup, std::span<const uint8_t> input,
                                                std::span<uint8_t> output)
{
    std::string problem = inTransferProblem("status poll", input, setup, config_.commandInterface);
    if (!problem.empty())
        return refuse(std::move(problem));
    if (setup.value != 0)
        return refuse(mismatch("status poll: wValue", setup.value, 0));
    if (setup.length != wire::kStatusAnswerSize)
        return refuse(mismatch("status poll: wLength", setup.length, wire::kStatusAnswerSize));

    std::vector<uint8_t> statusAnswer(wire::kStatusAnswerSize, 0); // guessed: unused bytes are zero
    if (answerVisible()) {
        statusAnswer[1] = queued_->delivery.reportedCount;
        simStoreBe16(&statusAnswer[2], queued_->packetLength);
    }
    return deliverIn(statusAnswer, output);
}

TransferResult SimulatedPhone::handOutAnswer(const SetupBlock& setup, std::span<const uint8_t> input,
                                             std::span<uint8_t> output)
{
    std::string problem = inTransferProblem("data read", input, setup, config_.commandInterface);
    if (!problem.empty())
        return refuse(std::move(problem));
    if (!answerVisible())
        return refuse("data read: no answer has been reported");
    const uint8_t count = queued_->delivery.reportedCount;
    if (!readableCount(count))
        return refuse("data read: the answer was reported with count " + std::to_string(count));
    // The read asks for as many answers as were reported, 2 bytes each, the
    // queued bytes and 4 more.
    const auto expectedLength = static_cast<uint32_t>(2 * count + queued_->packetLength + 4);
    if (setup.value != count)
        return refuse(mismatch("data read: wValue", setup.value, count));
    // A host that can read no more than one control transfer carries on
    // Linux asks for that much; like a real device, the phone sends what
    // was asked for and the rest of the answer is gone.
    const bool cutByHost = expectedLength > wire::kMaxControlData && setup.length == wire::kMaxControlData;
    if (setup.length != expectedLength && !cutByHost)
        return refuse(mismatch("data read: wLength", setup.length, expectedLength));

    const QueuedAnswer answer = std::move(*queued_);
    queued_.reset();
    std::span<const uint8_t> sent = answer.bytes;
    if (answer.delivery.truncated)
        sent = sent.first(wire::kAnswerHeadSize + (sent.size() - wire::kAnswerHeadSize) / 2);
    sent = sent.first(std::min<size_t>(sent.size(), setup.length));
    const std::vector<uint8_t> raw = driverOutput(sent, output.size());
    const size_t rawBytes = answer.delivery.shortDriverRead ? std::min(raw.size(), kShortDriverReadBytes) : raw.size();
    const TransferResult result = copyOut(std::span(raw).first(rawBytes), output);
    if (answer.restartsPhone)
        beginRestart();
    return result;
}

} // namespace p2k::sim
