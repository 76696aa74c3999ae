#pragma once

// The simulated phone's own byte helpers. They are deliberately separate from
// the client's, so that a misread field on one side cannot be hidden by the
// same misreading on the other.
//
// The phone's test command headers and service fields are big-endian; the USB
// setup block and the driver's prefix are little-endian.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace p2k::sim {

inline uint16_t simLoadBe16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t simLoadBe32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline uint16_t simLoadLe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline void simStoreBe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v & 0xFF);
}

inline void simStoreBe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>((v >> 16) & 0xFF);
    p[2] = static_cast<uint8_t>((v >> 8) & 0xFF);
    p[3] = static_cast<uint8_t>(v & 0xFF);
}

inline void simStoreLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    p[2] = static_cast<uint8_t>((v >> 16) & 0xFF);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void simAppendBe16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

inline void simAppendBe32(std::vector<uint8_t>& out, uint32_t v)
{
    simAppendBe16(out, static_cast<uint16_t>(v >> 16));
    simAppendBe16(out, static_cast<uint16_t>(v & 0xFFFF));
}

// Reads fields of a request the phone received. Callers check the size first;
// the reader itself answers 0 past the end so a slip can never read outside.
class SimReader {
public:
    explicit SimReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t size() const { return bytes_.size(); }
    bool has(size_t offset, size_t count) const
    {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    uint8_t u8(size_t offset) const { return has(offset, 1) ? bytes_[offset] : 0; }
    uint16_t be16(size_t offset) const { return has(offset, 2) ? simLoadBe16(&bytes_[offset]) : 0; }
    uint32_t be32(size_t offset) const { return has(offset, 4) ? simLoadBe32(&bytes_[offset]) : 0; }
    uint16_t le16(size_t offset) const { return has(offset, 2) ? simLoadLe16(&bytes_[offset]) : 0; }
    // The bytes from offset to the end (empty when offset is past it).
    std::span<const uint8_t> from(size_t offset) const
    {
        return offset <= bytes_.size() ? bytes_.subspan(offset) : std::span<const uint8_t>{};
    }

private:
    std::span<const uint8_t> bytes_;
};

} // namespace p2k::sim
