#include "services/phone_file_system.h"

#include "link/byte_order.h"

#include <algorithm>
#include <new>

namespace p2k {

namespace {

constexpr uint16_t kFileSystemOpcode = 0x4A;

enum Subcommand : uint32_t {
    kOpen = 0,
    kRead = 1,
    kWrite = 2,
    kSeek = 3,
    kClose = 4,
    kDelete = 5,
    kByteRequest = 6,
    kListCount = 7,
    kListNext = 8,
    kVolumeName = 0x0A,
    kFreeSpace = 0x0B,
};

constexpr size_t kSubcommandSize = 4;
constexpr size_t kChunkHeaderSize = 4;
constexpr size_t kFreeSpaceRequestSize = 512;
constexpr size_t kMaxVolumeUnits = 128;
// The two entry sizes phones use, in the order a bare length is tried.
constexpr uint32_t kEntrySizes[] = {44, 268};
constexpr uint8_t kWriteAccepted = 6;
constexpr uint8_t kFileFailure = 1;

// Blocks of 1024 bytes, then the rest. A rest of one byte would come back as a
// lone byte, which reads as a status answer: the last block gives it one byte
// more, so such a file ends with requests for 1023 and 2 bytes.
uint32_t nextReadSize(uint32_t remaining)
{
    if (remaining == PhoneFileSystem::kBlockSize + 1)
        return PhoneFileSystem::kBlockSize - 1;
    return std::min(remaining, PhoneFileSystem::kBlockSize);
}

// The entry size of a chunk: the one its own entry count fills exactly. Only
// when the count settles nothing does the length alone decide, 44 first.
uint32_t chunkEntrySize(uint16_t entries, uint32_t entriesBytes)
{
    for (uint32_t size : kEntrySizes)
        if (size_t{entries} * size == entriesBytes)
            return size;
    for (uint32_t size : kEntrySizes)
        if (entriesBytes % size == 0)
            return size;
    return 0;
}

} // namespace

// Presets the answer length, so that an answer without data counts as no bytes.
int PhoneFileSystem::send(size_t length, std::span<uint8_t> answer)
{
    answerLength_ = 0;
    return channel_.transact(kFileSystemOpcode, std::span(request_).first(length), answer, answerLength_) == kOk
               ? kOk
               : kFailed;
}

// Seek, close, delete and the one-byte request: a one-byte answer, or a first
// answer byte of 1, is a refusal.
int PhoneFileSystem::judgedRequest(size_t length)
{
    answer_[0] = 0;
    if (send(length, answer_) != kOk)
        return kFailed;
    return answerLength_ == 1 || answer_[0] == kFileFailure ? kFailed : kOk;
}

bool PhoneFileSystem::nameFits(std::string_view name) const
{
    if (name.empty() || name.size() > TestCommandChannel::kMaxRequestData - 8)
        return false;
    return entrySize_ == 0 || name.size() <= nameFieldSize();
}

size_t PhoneFileSystem::putName(size_t offset, std::string_view name)
{
    std::copy(name.begin(), name.end(), request_.begin() + static_cast<std::ptrdiff_t>(offset));
    return offset + name.size();
}

int PhoneFileSystem::openFile(std::string_view name, uint32_t attributes)
{
    if (!nameFits(name))
        return kFailed;
    storeBe32(&request_[0], kOpen);
    storeBe32(&request_[4], attributes);
    // The one failure byte is a refusal, as for the other file operations;
    // any other answer opened the file.
    answer_[0] = 0;
    if (send(putName(8, name), answer_) != kOk)
        return kFailed;
    return answerLength_ == 1 && answer_[0] == kFileFailure ? kFailed : kOk;
}

int PhoneFileSystem::readFile(std::span<uint8_t> buffer, uint32_t size, uint32_t& received, const BytesDone& progress)
{
    received = 0;
    if (size == 0 || buffer.size() < size)
        return kFailed;
    uint32_t got = 0;
    // An exact multiple of 1024 ends with a request for 0 bytes; an answer
    // shorter than asked (or without data) ends the file early.
    for (bool more = true; more;) {
        if (interrupted())
            return kFailed;
        const uint32_t asked = nextReadSize(size - received);
        storeBe32(&request_[0], kRead);
        storeBe32(&request_[4], asked);
        if (send(8, answer_) != kOk)
            return kFailed;
        got = answerLength_;
        if (got > asked)
            return kFailed; // more than was asked for is no answer to trust
        std::copy_n(answer_.begin(), got, buffer.begin() + received);
        received += got;
        if (progress)
            progress(received);
        more = got == asked && (got == kBlockSize || received < size);
    }
    return got == 1 ? kFailed : kOk;
}

int PhoneFileSystem::writeFile(std::span<const uint8_t> data, const BytesDone& progress)
{
    if (data.empty())
        return kFailed;
    answer_[0] = 0;
    for (size_t offset = 0; offset < data.size();) {
        if (interrupted())
            return kFailed;
        const size_t chunk = std::min<size_t>(data.size() - offset, kBlockSize);
        storeBe32(&request_[0], kWrite);
        storeBe32(&request_[4], static_cast<uint32_t>(chunk));
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), chunk, request_.begin() + 8);
        if (send(8 + chunk, answer_) != kOk)
            return kFailed;
        if (answerLength_ == 1 && answer_[0] != kWriteAccepted)
            return kFailed;
        offset += chunk;
        if (progress)
            progress(static_cast<uint32_t>(offset));
    }
    return kOk;
}

int PhoneFileSystem::seekFile(uint32_t offset, uint8_t origin)
{
    storeBe32(&request_[0], kSeek);
    storeBe32(&request_[4], offset);
    request_[8] = origin;
    return judgedRequest(9);
}

int PhoneFileSystem::closeFile()
{
    storeBe32(&request_[0], kClose);
    return judgedRequest(kSubcommandSize);
}

int PhoneFileSystem::deleteFile(std::string_view name)
{
    if (!nameFits(name))
        return kFailed;
    storeBe32(&request_[0], kDelete);
    return judgedRequest(putName(kSubcommandSize, name));
}

int PhoneFileSystem::sendByteRequest(uint8_t value)
{
    storeBe32(&request_[0], kByteRequest);
    request_[4] = value;
    return judgedRequest(5);
}

int PhoneFileSystem::fetchCount(uint16_t& count)
{
    storeBe32(&request_[0], kListCount);
    storeBe16(&answer_[0], 0xFFFF);
    if (send(kSubcommandSize, answer_) != kOk || answerLength_ < 2)
        return kFailed;
    count = loadBe16(&answer_[0]);
    return kOk;
}

int PhoneFileSystem::getFileList(MainWindow& window)
{
    // A new fetch replaces the old list, also when it fails.
    listStored_ = 0;
    entryCount_ = 0;
    uint16_t count = 0;
    if (fetchCount(count) != kOk)
        return kFailed;
    if (count == 0 || count == 0xFFFF) {
        log_.appendLog("Косяк!! Сбился со счета.. не могу посчитать файлы..");
        return kFailed;
    }
    try {
        list_.assign(size_t{count} * kListBytesPerEntry, 0);
    } catch (const std::bad_alloc&) {
        list_.clear();
        log_.appendLog("Косяк!! С памятью проблемы!");
        return kFailed;
    }
    window.setProgressRange(0, count);
    window.setProgressPosition(0);
    return fetchChunks(window, count);
}

int PhoneFileSystem::fetchChunks(MainWindow& window, uint16_t count)
{
    uint32_t remaining = count;
    size_t position = 0;
    while (remaining > 0) {
        if (interrupted())
            return kFailed;
        storeBe32(&request_[0], kListNext);
        // The chunk lands right at the write position; the channel refuses
        // one that would run past the buffer.
        if (send(kSubcommandSize, std::span(list_).subspan(position)) != kOk)
            return kFailed;
        if (takeChunk(position, remaining) != kOk)
            return kFailed;
        window.setProgressPosition(count - remaining);
        position += answerLength_;
    }
    entryCount_ = count;
    listStored_ = position;
    return kOk;
}

// A list of the wrong size leaves no entry size to trust.
int PhoneFileSystem::refuseListSize()
{
    entrySize_ = 0;
    log_.appendLog("Косяк!! Размер списка файлов неправильный !\r\n");
    return kFailed;
}

// Judges the chunk just stored at position: its entry size, and an entry
// count that keeps the fetch moving without overrunning what was announced.
int PhoneFileSystem::takeChunk(size_t position, uint32_t& remaining)
{
    const uint32_t length = answerLength_;
    // Shorter than its head: no entry count to read, and no entry size fits.
    if (length < kChunkHeaderSize)
        return refuseListSize();
    const uint32_t entriesBytes = length - kChunkHeaderSize;
    const uint16_t entries = loadBe16(&list_[position]);
    entrySize_ = chunkEntrySize(entries, entriesBytes);
    if (entrySize_ == 0)
        return refuseListSize();
    if (entries == 0) {
        log_.appendLog("Косяк!! Телефон прислал пустой кусок списка!\r\n");
        return kFailed;
    }
    if (entries > remaining) {
        log_.appendLog("Косяк!! Файлов в списке больше, чем телефон насчитал!\r\n");
        return kFailed;
    }
    if (size_t{entries} * entrySize_ > entriesBytes)
        return refuseListSize();
    remaining -= entries;
    return kOk;
}

int PhoneFileSystem::getVolumeName(std::span<uint8_t, kVolumeNameSize> buffer)
{
    std::fill(buffer.begin(), buffer.end(), 0);
    storeBe32(&request_[0], kVolumeName);
    if (send(kSubcommandSize, answer_) != kOk)
        return kFailed;
    std::copy_n(answer_.begin(), std::min<size_t>(answerLength_, kVolumeNameSize), buffer.begin());
    // An answer without data (status 6) names no volume.
    return answerLength_ <= 1 || buffer[0] == 6 ? kFailed : kOk;
}

int PhoneFileSystem::getFreeSpace(std::span<const uint8_t, kVolumeNameSize> volumeName)
{
    freeSpace_ = 0;
    std::fill_n(request_.begin(), kFreeSpaceRequestSize, 0);
    storeBe32(&request_[0], kFreeSpace);
    for (size_t unit = 0; unit < kMaxVolumeUnits; ++unit) {
        if (volumeName[2 * unit] == 0 && volumeName[2 * unit + 1] == 0)
            break;
        request_[kSubcommandSize + 2 * unit] = volumeName[2 * unit];
        request_[kSubcommandSize + 2 * unit + 1] = volumeName[2 * unit + 1];
    }
    std::fill_n(answer_.begin(), 4, 0);
    if (send(kFreeSpaceRequestSize, answer_) != kOk || answerLength_ == 1)
        return kFailed;
    freeSpace_ = loadBe32(&answer_[0]);
    if (freeSpace_ == 0) {
        log_.appendLog("места больше НЕТУ. вот.\r\n");
        return kFailed;
    }
    return kOk;
}

} // namespace p2k
