#pragma once

#include "core/main_window.h"
#include "core/operator_log.h"
#include "link/test_command_channel.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace p2k {

// The phone's file system service (opcode 0x4A): one open file at a time,
// data in blocks of at most 1024 bytes, and the file list in chunks.
// Told the bytes of a file moved so far.
using BytesDone = std::function<void(uint32_t bytes)>;

class PhoneFileSystem {
public:
    static constexpr uint32_t kBlockSize = 1024;
    static constexpr size_t kVolumeNameSize = 512;
    // Room per listed entry in the list buffer: the largest entry, plus slack.
    static constexpr size_t kListBytesPerEntry = 272;

    PhoneFileSystem(TestCommandChannel& channel, OperatorLog& log) : channel_(channel), log_(log) {}

    // name: raw 8-bit (Windows-1251) bytes. Refused unsent when empty or
    // longer than the name field of the last list (entry size - 8).
    int openFile(std::string_view name, uint32_t attributes);
    // Reads size bytes from the open file into buffer (at least size bytes
    // long); received tells how many arrived. 0 or -1. A size of 1 cannot be
    // read: its one byte is indistinguishable from a status answer. Reads and
    // writes tell progress, when given, the bytes done after every block.
    int readFile(std::span<uint8_t> buffer, uint32_t size, uint32_t& received, const BytesDone& progress = {});
    int writeFile(std::span<const uint8_t> data, const BytesDone& progress = {});
    int seekFile(uint32_t offset, uint8_t origin);
    int closeFile();
    int deleteFile(std::string_view name);
    // The one-byte request (subcommand 6); no operator command sends it.
    int sendByteRequest(uint8_t value);

    // Fetches the whole list, driving the window's progress bar.
    int getFileList(MainWindow& window);
    // Clears buffer and fills it with the phone's big-endian UTF-16 volume
    // name, cut at 512 bytes.
    int getVolumeName(std::span<uint8_t, kVolumeNameSize> buffer);
    // Asks for the free space of the named volume and stores it.
    int getFreeSpace(std::span<const uint8_t, kVolumeNameSize> volumeName);

    // 44 or 268 after a good fetch; 0 before any and after a wrong size.
    uint32_t entrySize() const { return entrySize_; }
    // Room for a name in the last list's entries (entry size - 8); 0 before any.
    size_t nameFieldSize() const { return entrySize_ >= 8 ? entrySize_ - 8 : 0; }
    uint32_t entryCount() const { return entryCount_; }
    // The chunks of the last fetch as the phone sent them, back to back; the
    // list view converts their numbers in place.
    std::span<uint8_t> listChunks() { return std::span(list_).first(listStored_); }
    uint32_t freeSpace() const { return freeSpace_; }

    // A front end that can be interrupted (Ctrl-C, Esc) sets this flag:
    // reads, writes and the list fetch then fail between two requests, and
    // the command's usual failure path closes what it opened. They stop the
    // same way once the phone is gone.
    void setInterruptFlag(const std::atomic<bool>* flag) { channel_.setInterruptFlag(flag); }
    bool interrupted() const { return channel_.stopRequested(); }
    // Only the operator's interrupt, not a gone phone.
    bool interruptedByOperator() const { return channel_.interruptRaised(); }

private:
    int send(size_t length, std::span<uint8_t> answer);
    int judgedRequest(size_t length);
    bool nameFits(std::string_view name) const;
    size_t putName(size_t offset, std::string_view name);
    int fetchCount(uint16_t& count);
    int fetchChunks(MainWindow& window, uint16_t count);
    int takeChunk(size_t position, uint32_t& remaining);
    int refuseListSize();

    TestCommandChannel& channel_;
    OperatorLog& log_;
    std::array<uint8_t, 4096> request_{};
    std::array<uint8_t, 4096> answer_{};
    uint32_t answerLength_ = 0;
    uint32_t entrySize_ = 0;
    uint32_t entryCount_ = 0;
    std::vector<uint8_t> list_;
    size_t listStored_ = 0;
    uint32_t freeSpace_ = 0;
};

} // namespace p2k
