// The SEEM commands fed arbitrary readSeem (and writeSeem) answers: the range
// download, the record upload from a PC file and the ringtone update, in an
// order the input chooses. No command may save or write back a byte that the
// phone's answer or the PC file did not supply, overwrite a PC file, leave
// one open, or walk the records in any other order than 1, 2, 3 ...

#include "commands/seem_commands.h"
#include "fuzz/fuzz_support.h"
#include "link/byte_order.h"
#include "tests/support/fake_pc.h"
#include "tests/support/ringtone_profiles.h"

#include <map>

namespace p2k::fuzz {
namespace {

constexpr uint16_t kSeemRead = 0x20;
constexpr uint16_t kSeemWrite = 0x2F;
constexpr uint16_t kRestart = 0x22;
constexpr uint16_t kFileSystem = 0x4A;
constexpr size_t kCommands = 4;
constexpr uint32_t kLastRecord = 128;
constexpr size_t kLongestWriteBack = 4078 - 8;
constexpr const char* kFolder = "D:/seem";
constexpr const char* kPcRecord = "C:/pc/record.seem";

Bytes seemHeader(uint32_t seem, uint32_t record, uint32_t length)
{
    Bytes header(8, 0);
    storeBe16(&header[0], static_cast<uint16_t>(seem));
    storeBe16(&header[2], static_cast<uint16_t>(record));
    storeBe16(&header[6], static_cast<uint16_t>(length));
    return header;
}

// The record a read delivered (status byte 0), as the commands take it; empty
// optional when the read gives none. A status-6 answer leaves the answer
// buffer as it was: its first byte decides, and the record is empty.
std::optional<Bytes> recordRead(const PlayedRequest& read, uint8_t firstByteBefore)
{
    if (!transactOk(read))
        return std::nullopt;
    if (read.status == 6)
        return firstByteBefore == 0 ? std::optional<Bytes>(Bytes{}) : std::nullopt;
    if (read.answer.empty() || read.answer[0] != 0)
        return std::nullopt;
    return Bytes(read.answer.begin() + 1, read.answer.end());
}

// The open dialog: the operator picks a PC file that holds the record just
// read, whole or changed as the input says (or cancels).
class RecordDialogs : public FileDialogs {
public:
    RecordDialogs(FuzzInput& in, test::FakePcFiles& pc, const AnswerPlayingTransport& phone)
        : in_(in), pc_(pc), phone_(phone) {}

    std::optional<DialogChoice> showSave(std::string_view) override
    {
        return DialogChoice{std::string(kFolder) + "/xxxx_yyyy.seem", "xxxx_yyyy.seem"};
    }

    std::optional<DialogChoice> showOpen() override
    {
        Bytes bytes = phone_.requests().back().answer;
        if (!bytes.empty())
            bytes.erase(bytes.begin());
        switch (in_.u8() % 5) {
        case 0: return std::nullopt;
        case 1: bytes.push_back(0x33); break;
        case 2: if (!bytes.empty()) bytes.pop_back(); break;
        case 3: if (!bytes.empty()) bytes[0] ^= 0xFF; break;
        default: break;
        }
        pc_.files[kPcRecord] = {bytes, false};
        return DialogChoice{kPcRecord, "record.seem"};
    }

private:
    FuzzInput& in_;
    test::FakePcFiles& pc_;
    const AnswerPlayingTransport& phone_;
};

// SEEM commands of its own, asking the record dialogs rather than the world's scripted ones.
struct Harness : PlayedPhoneWorld {
    explicit Harness(FuzzInput& input) : PlayedPhoneWorld(input), in(input) {}

    FuzzInput& in;
    RecordDialogs recordDialogs{in, pc, phone};
    SeemCommands commands{{window, recordDialogs, pc, log, seemAccess, fileSystem, clock}};
    uint8_t writeVerdictByte = 0; // the first byte the last write answer left
};

// The requests a command sent, from index first on.
std::vector<const PlayedRequest*> sentSince(const Harness& h, size_t first)
{
    std::vector<const PlayedRequest*> sent;
    for (size_t i = first; i < h.phone.requests().size(); ++i)
        sent.push_back(&h.phone.requests()[i]);
    return sent;
}

// A write's verdict: the request went through and the answer area's first byte is 0.
bool writeAccepted(Harness& h, const PlayedRequest& write)
{
    if (transactOk(write) && write.status == 8 && !write.answer.empty())
        h.writeVerdictByte = write.answer[0];
    return transactOk(write) && h.writeVerdictByte == 0;
}

void downloadRange(Harness& h)
{
    const uint32_t first = h.in.be16();
    const uint32_t last = first + (h.in.u8() & 1);
    h.window.fields[control::kSeemRangeStart] = hex4(first);
    h.window.fields[control::kSeemRangeEnd] = hex4(last);
    const std::map<std::string, test::FakePcFiles::Stored> before = h.pc.files;
    uint8_t firstByte = h.commands.answerBuffer()[0];
    const size_t start = h.phone.requests().size();
    const bool result = h.commands.downloadSeemRange();

    const uint32_t shownLast = std::min<uint32_t>(last, 0xFFFF);
    require(h.sink.text().starts_with("Скачиваем СИМ из " + hex4(std::min<uint32_t>(first, 0xFFFF)) + " to "
                                      + hex4(shownLast) + "\r\n"),
            "the download names its range");
    require(h.sink.text().ends_with("Done.\r\n"), "a started download always ends with Done.");
    std::map<std::string, Bytes> saved;
    const std::vector<const PlayedRequest*> reads = sentSince(h, start);
    size_t next = 0;
    for (uint32_t seem = std::min<uint32_t>(first, 0xFFFF);; ++seem) {
        for (uint32_t record = 1; record <= kLastRecord; ++record) {
            require(next < reads.size(), "each SEEM is read up to its first unreadable record");
            const PlayedRequest& read = *reads[next++];
            require(read.opcode == kSeemRead && read.data == seemHeader(seem, record, 0),
                    "records are read 1, 2, 3 ... of each SEEM in turn");
            const std::optional<Bytes> content = recordRead(read, firstByte);
            if (read.status == 8 && !read.answer.empty())
                firstByte = read.answer[0];
            // A read without record bytes ends the SEEM like a failed one.
            if (!content || content->empty())
                break;
            saved[std::string(kFolder) + "/" + hex4(seem) + "_" + hex4(record) + ".seem"] = *content;
        }
        if (seem >= shownLast)
            break;
    }
    require(next == reads.size(), "nothing beyond the range is read");
    bool allSaved = true;
    for (const auto& [path, content] : saved) {
        require(h.pc.files.count(path) == 1, "every record read is saved");
        allSaved = allSaved && before.count(path) == 0;
    }
    require(result == allSaved, "the download fails exactly when a record found its file taken");
    for (const auto& [path, file] : h.pc.files) {
        const auto old = before.find(path);
        if (old != before.end())
            require(old->second.bytes == file.bytes, "an existing PC file keeps its content");
        else
            require(saved.count(path) && saved[path] == file.bytes, "a SEEM file holds exactly the record read");
    }
}

void uploadRecord(Harness& h)
{
    const uint32_t seemNumber = h.in.be16();
    const uint32_t recordNumber = h.in.be16();
    h.window.fields[control::kSeemNumber] = hex4(seemNumber);
    h.window.fields[control::kSeemRecord] = hex4(recordNumber);
    const uint32_t seem = std::min<uint32_t>(seemNumber, 0xFFFF);
    const uint32_t record = recordNumber == 0 || recordNumber >= 0xFFFF ? 1 : recordNumber;
    const uint8_t firstByte = h.commands.answerBuffer()[0];
    const size_t start = h.phone.requests().size();
    h.pc.files.erase(kPcRecord);
    const bool result = h.commands.uploadSeemRecord();

    const std::vector<const PlayedRequest*> sent = sentSince(h, start);
    require(!sent.empty() && sent[0]->opcode == kSeemRead && sent[0]->data == seemHeader(seem, record, 0),
            "the upload first reads the record");
    const std::optional<Bytes> current = recordRead(*sent[0], firstByte);
    const auto file = h.pc.files.find(kPcRecord);
    const bool fits = current && !current->empty() && current->size() <= kLongestWriteBack;
    const bool matches = fits && file != h.pc.files.end() && file->second.bytes.size() == current->size();
    require(sent.size() == (matches ? 2u : 1u), "a record is written back only from a PC file of its length");
    if (!matches) {
        require(!result && !h.sink.text().ends_with(" ok\r\n"), "an upload that writes nothing is no success");
        return;
    }
    Bytes expected = seemHeader(seem, record, static_cast<uint32_t>(current->size()));
    expected.insert(expected.end(), file->second.bytes.begin(), file->second.bytes.end());
    require(sent[1]->opcode == kSeemWrite && sent[1]->data == expected, "the write carries the PC file's bytes");
    const bool accepted = writeAccepted(h, *sent[1]);
    require(h.sink.text().ends_with(" ok\r\n") == accepted && result == accepted, "ok only for an accepted write");
}

void updateRingtones(Harness& h)
{
    const uint8_t firstByte = h.commands.answerBuffer()[0];
    const size_t start = h.phone.requests().size();
    const bool result = h.commands.updateRingtones();

    const std::vector<const PlayedRequest*> sent = sentSince(h, start);
    require(!sent.empty() && sent[0]->opcode == kSeemRead && sent[0]->data == seemHeader(0x4C, 1, 0),
            "the update reads the profiles first");
    const std::optional<Bytes> profiles = recordRead(*sent[0], firstByte);
    if (!profiles || profiles->empty() || profiles->size() > kLongestWriteBack) {
        require(sent.size() == 1 && h.sink.text().find("Косяк!! Профили") != std::string::npos,
                "without a usable profiles record nothing is changed, and the log says so");
        require(!result, "an update that changed nothing is no success");
        return;
    }
    Bytes expected = seemHeader(0x4C, 1, static_cast<uint32_t>(profiles->size()));
    const Bytes patched = test::patchedProfiles(*profiles);
    expected.insert(expected.end(), patched.begin(), patched.end());
    require(sent.size() == 4, "write, delete and restart follow the read");
    require(sent[1]->opcode == kSeemWrite && sent[1]->data == expected, "the profiles go back patched, same length");
    require(result == writeAccepted(h, *sent[1]), "the update succeeds exactly when the profiles went back");
    Bytes deleteRequest = {0, 0, 0, 5};
    for (char c : std::string_view("MyToneDB.db"))
        deleteRequest.push_back(static_cast<uint8_t>(c));
    require(sent[2]->opcode == kFileSystem && sent[2]->data == deleteRequest, "the ringtone database is deleted");
    require(sent[3]->opcode == kRestart && sent[3]->data.empty(), "the phone is restarted last");
}

} // namespace
} // namespace p2k::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace p2k::fuzz;
    FuzzInput in(data, size);
    Harness h(in);
    for (size_t i = 0; i < kCommands && !in.empty(); ++i) {
        h.sink.clear();
        switch (in.u8() % 3) {
        case 0: downloadRange(h); break;
        case 1: uploadRecord(h); break;
        default: updateRingtones(h); break;
        }
        require(h.pc.openCount == 0, "no PC file is left open");
        require(isUtf8(h.sink.text()), "the log is UTF-8");
    }
    return 0;
}
