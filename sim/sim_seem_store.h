#pragma once

#include "sim/phone_config.h"
#include "sim/sim_wire.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

namespace p2k::sim {

// The phone's SEEM records (numbered settings elements) and the two services
// that read (opcode 0x20) and write (opcode 0x2F) them. Both answer with data
// whose first byte is the SEEM status: 0 for success.
class SimSeemStore {
public:
    using Key = std::pair<uint16_t, uint16_t>; // SEEM number, record number

    static constexpr uint8_t kSeemOk = 0x00;
    static constexpr uint8_t kSeemMissing = 0x01;  // guessed: no such record
    static constexpr uint8_t kSeemBadRange = 0x02; // offset/length outside the record, or a length mismatch

    explicit SimSeemStore(MissingSeemRecord missing = MissingSeemRecord::FailureByte) : missing_(missing) {}

    void set(uint16_t seem, uint16_t record, std::vector<uint8_t> bytes);
    const std::vector<uint8_t>* find(uint16_t seem, uint16_t record) const;
    size_t count() const { return records_.size(); }
    const std::map<Key, std::vector<uint8_t>>& records() const { return records_; }

    // Request: SEEM number, record, offset, length (big-endian 16-bit each);
    // a write adds the bytes to store.
    ServiceReply read(std::span<const uint8_t> request) const;
    ServiceReply write(std::span<const uint8_t> request);

private:
    ServiceReply missingRecord() const;

    MissingSeemRecord missing_;
    std::map<Key, std::vector<uint8_t>> records_;
};

} // namespace p2k::sim
