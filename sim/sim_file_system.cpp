#include "sim/sim_file_system.h"

#include <algorithm>
#include <utility>

namespace p2k::sim {

namespace {

// Subcommands, the first four request bytes.
enum Subcommand : uint32_t {
    kOpen = 0,
    kRead = 1,
    kWrite = 2,
    kSeek = 3,
    kClose = 4,
    kDelete = 5,
    kOneByte = 6,
    kListCount = 7,
    kListNext = 8,
    kVolumeName = 0x0A,
    kFreeSpace = 0x0B,
};

constexpr size_t kSubcommandSize = 4;
constexpr uint32_t kSmallestEntry = 9; // a name byte and the eight bytes of numbers
constexpr size_t kChunkHeadSize = 4;

// The byte the service answers when an operation on a file fails.
constexpr uint8_t kFileFailure = 0x01;
// guessed: a successful open answers a single zero byte.
constexpr uint8_t kOpenSuccess = 0x00;

// guessed: a request whose length does not suit its subcommand is refused as
// a data length error.
ServiceReply wrongLength()
{
    return replyStatus(status::kInvalidDataLength);
}

ServiceReply fileFailure()
{
    return replyByte(kFileFailure);
}

std::string nameFrom(std::span<const uint8_t> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

enum SeekOrigin : uint8_t { kFromStart = 0, kFromCurrent = 1, kFromEnd = 2 };

// Names compare byte for byte. guessed: the phone's file names are case-sensitive.
template <class Files>
auto* findIn(Files& files, std::string_view name)
{
    auto it = std::find_if(files.begin(), files.end(), [&](const SimFile& f) { return f.name == name; });
    return it == files.end() ? nullptr : &*it;
}

} // namespace

SimFileSystem::SimFileSystem(const PhoneConfig& config)
    : entrySize_(std::max(config.entrySize, kSmallestEntry)),
      entriesPerChunk_(config.entriesPerChunk),
      volumeName_(config.volumeName),
      freeSpace_(config.freeSpace),
      openRefusal_(config.openRefusal),
      writeAcknowledge_(config.writeAcknowledge)
{
}

ServiceReply SimFileSystem::handle(std::span<const uint8_t> request)
{
    const SimReader whole(request);
    if (!whole.has(0, kSubcommandSize))
        return wrongLength();
    const SimReader params(whole.from(kSubcommandSize));
    switch (whole.be32(0)) {
    case kOpen: return open(params);
    case kRead: return read(params);
    case kWrite: return write(params);
    case kSeek: return seek(params);
    case kClose: return close(params);
    case kDelete: return remove(params);
    case kOneByte: return oneByteRequest(params);
    case kListCount: return listCount(params);
    case kListNext: return listNext(params);
    case kVolumeName: return volumeName(params);
    case kFreeSpace: return freeSpaceAnswer(params);
    default: return replyStatus(status::kInvalidParameter);
    }
}

void SimFileSystem::addFile(SimFile file)
{
    if (SimFile* existing = findMutable(file.name))
        *existing = std::move(file);
    else
        files_.push_back(std::move(file));
}

const SimFile* SimFileSystem::findFile(std::string_view name) const
{
    return findIn(files_, name);
}

SimFile* SimFileSystem::findMutable(std::string_view name)
{
    return findIn(files_, name);
}

SimFile* SimFileSystem::openedFile()
{
    return openName_ ? findMutable(*openName_) : nullptr;
}

void SimFileSystem::endSession()
{
    // guessed: the phone forgets the host's open file and list position when
    // the host goes away.
    openName_.reset();
    position_ = 0;
    listCursor_ = 0;
}

bool SimFileSystem::nameFits(const std::string& name) const
{
    return !name.empty() && name.size() <= nameFieldSize();
}

ServiceReply SimFileSystem::open(const SimReader& params)
{
    if (!params.has(0, 4))
        return wrongLength();
    std::string name = nameFrom(params.from(4));
    if (openName_ || !nameFits(name))
        return refuseOpen();

    // guessed: opening an existing file keeps its content and gives it the
    // attributes of the request; that is how the host changes attributes.
    SimFile* file = findMutable(name);
    if (!file) {
        files_.push_back(SimFile{name, 0, {}});
        file = &files_.back();
    }
    file->attributes = params.be32(0);
    openName_ = std::move(name);
    position_ = 0;
    return replyByte(kOpenSuccess);
}

ServiceReply SimFileSystem::refuseOpen() const
{
    return openRefusal_ == OpenRefusal::FailureByte ? fileFailure() : replyStatus(status::kGenericFailure);
}

ServiceReply SimFileSystem::read(const SimReader& params)
{
    if (params.size() != 4)
        return wrongLength();
    const SimFile* file = openedFile();
    const uint32_t count = params.be32(0);
    if (!file || count > kMaxTransferBytes)
        return fileFailure();

    const size_t available = file->content.size() - position_;
    const size_t taken = std::min<size_t>(count, available);
    auto first = file->content.begin() + position_;
    position_ += static_cast<uint32_t>(taken);
    return replyData(std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(taken)));
}

ServiceReply SimFileSystem::write(const SimReader& params)
{
    if (!params.has(0, 4))
        return wrongLength();
    SimFile* file = openedFile();
    const uint32_t count = params.be32(0);
    const std::span<const uint8_t> bytes = params.from(4);
    if (!file || count != bytes.size() || count > kMaxTransferBytes)
        return fileFailure();

    const size_t end = size_t{position_} + count;
    const size_t growth = end > file->content.size() ? end - file->content.size() : 0;
    if (growth > freeSpace_)
        return fileFailure();
    if (growth > 0)
        file->content.resize(end);
    std::copy(bytes.begin(), bytes.end(), file->content.begin() + position_);
    freeSpace_ -= static_cast<uint32_t>(growth);
    position_ = static_cast<uint32_t>(end);
    return writeAcknowledge_ == WriteAcknowledge::ByteSix ? replyByte(status::kDone) : replyDone();
}

ServiceReply SimFileSystem::seek(const SimReader& params)
{
    if (params.size() != 5)
        return wrongLength();
    const SimFile* file = openedFile();
    if (!file)
        return fileFailure();

    // guessed: origins 1 and 2 count from the current position and from the
    // end, and the offset is signed for all three.
    int64_t base = 0;
    switch (params.u8(4)) {
    case kFromStart: base = 0; break;
    case kFromCurrent: base = position_; break;
    case kFromEnd: base = static_cast<int64_t>(file->content.size()); break;
    default: return fileFailure();
    }
    const int64_t target = base + static_cast<int32_t>(params.be32(0));
    if (target < 0 || target > static_cast<int64_t>(file->content.size()))
        return fileFailure();
    position_ = static_cast<uint32_t>(target);
    return replyDone();
}

ServiceReply SimFileSystem::close(const SimReader& params)
{
    if (params.size() != 0)
        return wrongLength();
    if (!openName_)
        return fileFailure();
    openName_.reset();
    position_ = 0;
    return replyDone();
}

ServiceReply SimFileSystem::remove(const SimReader& params)
{
    const std::string name = nameFrom(params.from(0));
    const SimFile* file = findFile(name);
    if (!file || openName_ == name)
        return fileFailure();

    const size_t released = file->content.size();
    freeSpace_ = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{freeSpace_} + released, UINT32_MAX));
    files_.erase(files_.begin() + (file - files_.data()));
    listCursor_ = std::min(listCursor_, files_.size());
    return replyDone();
}

ServiceReply SimFileSystem::oneByteRequest(const SimReader& params)
{
    // guessed: the phone accepts any value and does nothing visible with it.
    return params.size() == 1 ? replyDone() : wrongLength();
}

ServiceReply SimFileSystem::listCount(const SimReader& params)
{
    if (params.size() != 0)
        return wrongLength();
    listCursor_ = 0;
    std::vector<uint8_t> out;
    simAppendBe16(out, static_cast<uint16_t>(std::min<size_t>(files_.size(), UINT16_MAX)));
    return replyData(std::move(out));
}

size_t SimFileSystem::entriesPerAnswer() const
{
    // guessed: the phone never puts more entries in a chunk than one answer carries.
    const size_t fitting = (wire::kMaxAnswerData - kChunkHeadSize) / entrySize_;
    return std::max<size_t>(1, std::min<size_t>(entriesPerChunk_, fitting));
}

void SimFileSystem::appendEntry(std::vector<uint8_t>& out, const SimFile& file) const
{
    const size_t start = out.size();
    out.resize(start + entrySize_, 0);
    // guessed: a name longer than the field is cut to it.
    const size_t nameBytes = std::min(file.name.size(), nameFieldSize());
    std::copy_n(file.name.begin(), nameBytes, out.begin() + static_cast<std::ptrdiff_t>(start));
    uint8_t* numbers = out.data() + start + nameFieldSize();
    simStoreBe16(numbers, static_cast<uint16_t>(file.attributes & 0xFFFF));
    simStoreBe16(numbers + 2, static_cast<uint16_t>(file.attributes >> 16));
    simStoreBe32(numbers + 4, static_cast<uint32_t>(file.content.size()));
}

ServiceReply SimFileSystem::listNext(const SimReader& params)
{
    if (params.size() != 0)
        return wrongLength();
    const size_t count = std::min(entriesPerAnswer(), files_.size() - listCursor_);
    std::vector<uint8_t> out;
    simAppendBe16(out, static_cast<uint16_t>(count));
    simAppendBe16(out, 0); // guessed: the two bytes after the entry count are zero
    for (size_t i = 0; i < count; ++i)
        appendEntry(out, files_[listCursor_ + i]);
    listCursor_ += count;
    return replyData(std::move(out));
}

ServiceReply SimFileSystem::volumeName(const SimReader& params)
{
    if (params.size() != 0)
        return wrongLength();
    std::vector<uint8_t> out;
    for (char16_t unit : volumeName_)
        simAppendBe16(out, static_cast<uint16_t>(unit));
    simAppendBe16(out, 0);
    return replyData(std::move(out));
}

bool SimFileSystem::volumeNameMatches(std::span<const uint8_t> utf16Be) const
{
    const SimReader units(utf16Be);
    std::u16string sent;
    for (size_t offset = 0; units.has(offset, 2) && units.be16(offset) != 0; offset += 2)
        sent.push_back(static_cast<char16_t>(units.be16(offset)));
    return sent == volumeName_;
}

ServiceReply SimFileSystem::freeSpaceAnswer(const SimReader& params)
{
    if (params.size() != kFreeSpaceRequestSize - kSubcommandSize)
        return wrongLength();
    if (!volumeNameMatches(params.from(0)))
        return replyStatus(status::kInvalidParameter);
    std::vector<uint8_t> out;
    simAppendBe32(out, freeSpace_);
    return replyData(std::move(out));
}

} // namespace p2k::sim
