#pragma once

#include "sim/phone_config.h"
#include "sim/sim_bytes.h"
#include "sim/sim_wire.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace p2k::sim {

// The phone's file system service (opcode 0x4A): an in-memory volume with one
// file open at a time and a list cursor. Requests start with a big-endian
// 32-bit subcommand.
class SimFileSystem {
public:
    static constexpr uint32_t kMaxTransferBytes = 1024;
    static constexpr uint32_t kFreeSpaceRequestSize = 512;

    explicit SimFileSystem(const PhoneConfig& config);

    // Serves one request of the service (the request data of opcode 0x4A).
    ServiceReply handle(std::span<const uint8_t> request);

    // Adds a file at the end of the list, or replaces the file of that name.
    // Content added this way does not count against the free space.
    void addFile(SimFile file);
    const SimFile* findFile(std::string_view name) const;
    const std::vector<SimFile>& files() const { return files_; }
    bool fileOpen() const { return openName_.has_value(); }
    uint32_t freeSpace() const { return freeSpace_; }

    // The host's session ended (detach, restart): the open file is closed and
    // the list cursor starts over.
    void endSession();

private:
    ServiceReply open(const SimReader& params);
    ServiceReply refuseOpen() const;
    ServiceReply read(const SimReader& params);
    ServiceReply write(const SimReader& params);
    ServiceReply seek(const SimReader& params);
    ServiceReply close(const SimReader& params);
    ServiceReply remove(const SimReader& params);
    ServiceReply oneByteRequest(const SimReader& params);
    ServiceReply listCount(const SimReader& params);
    ServiceReply listNext(const SimReader& params);
    ServiceReply volumeName(const SimReader& params);
    ServiceReply freeSpaceAnswer(const SimReader& params);

    SimFile* findMutable(std::string_view name);
    SimFile* openedFile();
    size_t nameFieldSize() const { return entrySize_ - 8; }
    bool nameFits(const std::string& name) const;
    size_t entriesPerAnswer() const;
    void appendEntry(std::vector<uint8_t>& out, const SimFile& file) const;
    bool volumeNameMatches(std::span<const uint8_t> utf16Be) const;

    uint32_t entrySize_;
    uint16_t entriesPerChunk_;
    std::u16string volumeName_;
    uint32_t freeSpace_;
    OpenRefusal openRefusal_;
    WriteAcknowledge writeAcknowledge_;
    std::vector<SimFile> files_;
    std::optional<std::string> openName_;
    uint32_t position_ = 0;
    size_t listCursor_ = 0;
};

} // namespace p2k::sim
