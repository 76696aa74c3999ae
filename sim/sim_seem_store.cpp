#include "sim/sim_seem_store.h"

#include "sim/sim_bytes.h"

#include <algorithm>

namespace p2k::sim {

namespace {

constexpr size_t kSeemHeaderSize = 8;
// The status byte and the record bytes must fit one answer.
constexpr size_t kMaxRecordBytesPerAnswer = wire::kMaxAnswerData - 1;

struct SeemHeader {
    uint16_t seem = 0;
    uint16_t record = 0;
    uint16_t offset = 0;
    uint16_t length = 0;
};

SeemHeader decodeSeemHeader(const SimReader& in)
{
    return SeemHeader{in.be16(0), in.be16(2), in.be16(4), in.be16(6)};
}

ServiceReply seemStatus(uint8_t value)
{
    return replyByte(value);
}

// The part of a record a read asks for; false when it lies outside the record.
bool selectRange(const std::vector<uint8_t>& record, const SeemHeader& header, size_t& first, size_t& count)
{
    if (header.offset > record.size())
        return false;
    first = header.offset;
    count = header.length == 0 ? record.size() - first : header.length;
    return count <= record.size() - first;
}

} // namespace

void SimSeemStore::set(uint16_t seem, uint16_t record, std::vector<uint8_t> bytes)
{
    records_[Key{seem, record}] = std::move(bytes);
}

const std::vector<uint8_t>* SimSeemStore::find(uint16_t seem, uint16_t record) const
{
    auto it = records_.find(Key{seem, record});
    return it == records_.end() ? nullptr : &it->second;
}

ServiceReply SimSeemStore::missingRecord() const
{
    switch (missing_) {
    case MissingSeemRecord::Done: return replyDone();
    case MissingSeemRecord::StatusByteOnly: return seemStatus(kSeemOk);
    case MissingSeemRecord::FailureByte: break;
    }
    return seemStatus(kSeemMissing);
}

ServiceReply SimSeemStore::read(std::span<const uint8_t> request) const
{
    const SimReader in(request);
    if (in.size() != kSeemHeaderSize)
        return replyStatus(status::kInvalidDataLength); // guessed
    const SeemHeader header = decodeSeemHeader(in);
    const std::vector<uint8_t>* record = find(header.seem, header.record);
    if (!record)
        return missingRecord();

    size_t first = 0;
    size_t count = 0;
    if (!selectRange(*record, header, first, count))
        return seemStatus(kSeemBadRange); // guessed
    // guessed: a record longer than one answer can carry is cut to what fits.
    count = std::min(count, kMaxRecordBytesPerAnswer);

    std::vector<uint8_t> out{kSeemOk};
    auto from = record->begin() + static_cast<std::ptrdiff_t>(first);
    out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(count));
    return replyData(std::move(out));
}

ServiceReply SimSeemStore::write(std::span<const uint8_t> request)
{
    const SimReader in(request);
    if (!in.has(0, kSeemHeaderSize))
        return replyStatus(status::kInvalidDataLength); // guessed
    const SeemHeader header = decodeSeemHeader(in);
    const std::span<const uint8_t> bytes = in.from(kSeemHeaderSize);
    if (bytes.size() != header.length)
        return seemStatus(kSeemBadRange);

    if (header.offset == 0) {
        set(header.seem, header.record, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        return seemStatus(kSeemOk);
    }
    // guessed: a write at an offset patches an existing record and never grows it.
    auto it = records_.find(Key{header.seem, header.record});
    if (it == records_.end())
        return seemStatus(kSeemMissing);
    if (size_t{header.offset} + bytes.size() > it->second.size())
        return seemStatus(kSeemBadRange);
    std::copy(bytes.begin(), bytes.end(), it->second.begin() + header.offset);
    return seemStatus(kSeemOk);
}

} // namespace p2k::sim
