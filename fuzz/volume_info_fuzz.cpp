// The volume information block fed arbitrary volume name and free space
// answers: the name shown, the free-space request sent back and the free
// space shown must follow from the answers alone, and every failure must end
// the block with its own text.

#include "core/cp1251.h"
#include "commands/file_list_view.h"
#include "fuzz/fuzz_support.h"
#include "link/byte_order.h"
#include "tests/support/fake_list.h"

namespace p2k::fuzz {
namespace {

constexpr uint16_t kFileSystem = 0x4A;
constexpr size_t kVolumeBytes = 512;
constexpr size_t kMaxUnitsSent = 128;
constexpr size_t kRounds = 3;
constexpr const char* kHeading = "Информация о носителе:\r\n";
constexpr const char* kNoName = "Косяк! Не могу определить имя носителя!\r\n";
constexpr const char* kNoSize = "Косяк! Не могу определить размер носителя!\r\n\r\n";
constexpr const char* kNoSpace = "места больше НЕТУ. вот.\r\n";

// The volume name buffer as the answer leaves it: cut at 512 bytes, zero-padded.
Bytes volumeBuffer(const PlayedRequest& request)
{
    Bytes buffer(kVolumeBytes, 0);
    const size_t kept = std::min(request.answer.size(), kVolumeBytes);
    std::copy_n(request.answer.begin(), kept, buffer.begin());
    return buffer;
}

bool volumeNameTaken(const PlayedRequest& request)
{
    return transactOk(request) && request.answer.size() > 1 && volumeBuffer(request)[0] != 6;
}

// The low byte of each big-endian unit, up to the first zero low byte.
std::string shownName(const Bytes& buffer)
{
    std::string name;
    for (size_t unit = 0; unit < buffer.size() / 2 && buffer[2 * unit + 1] != 0; ++unit)
        name += static_cast<char>(buffer[2 * unit + 1]);
    return name;
}

// Subcommand 0x0B, then the name's units up to its zero unit (at most 128), zeros to 512 bytes.
Bytes freeSpaceRequest(const Bytes& buffer)
{
    Bytes request(kVolumeBytes, 0);
    storeBe32(request.data(), 0x0B);
    for (size_t unit = 0; unit < kMaxUnitsSent && (buffer[2 * unit] != 0 || buffer[2 * unit + 1] != 0); ++unit) {
        request[4 + 2 * unit] = buffer[2 * unit];
        request[5 + 2 * unit] = buffer[2 * unit + 1];
    }
    return request;
}

uint32_t announcedSpace(const PlayedRequest& request)
{
    uint8_t bytes[4] = {};
    if (request.status == 8)
        std::copy_n(request.answer.begin(), std::min<size_t>(request.answer.size(), 4), bytes);
    return loadBe32(bytes);
}

// The text that must end the block, given the free-space answer.
std::string blockEnd(const PlayedRequest& request, PhoneFileSystem& fileSystem)
{
    if (!transactOk(request) || (request.status == 8 && request.answer.size() == 1))
        return kNoSize;
    const uint32_t space = announcedSpace(request);
    if (space == 0)
        return std::string(kNoSpace) + kNoSize;
    require(fileSystem.freeSpace() == space, "the free space kept is the one announced");
    return "Свободного места еще: " + std::to_string(space / 1024) + "КБ\r\n";
}

void checkBlock(const std::string& log, const std::vector<PlayedRequest>& requests, size_t first,
                PhoneFileSystem& fileSystem)
{
    require(log.starts_with(kHeading), "the block starts with its heading");
    require(requests.size() > first, "the volume name is asked for");
    const PlayedRequest& nameRequest = requests[first];
    require(nameRequest.opcode == kFileSystem && nameRequest.data == Bytes({0, 0, 0, 0x0A}),
            "the volume name request is subcommand 0x0A alone");
    if (!volumeNameTaken(nameRequest)) {
        require(log.ends_with(kNoName) && requests.size() == first + 1, "a lost volume name ends the block");
        return;
    }
    const Bytes buffer = volumeBuffer(nameRequest);
    const std::string nameLine = "Name: " + cp1251ToUtf8(shownName(buffer)) + "\r\n";
    require(log.find(nameLine) == std::string(kHeading).size(), "the name shown is the units' low bytes");
    require(requests.size() == first + 2, "one free-space request follows the name");
    require(requests[first + 1].data == freeSpaceRequest(buffer), "the free-space request carries the name back");
    require(log.ends_with(blockEnd(requests[first + 1], fileSystem)), "the block ends as the free space says");
}

} // namespace
} // namespace p2k::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace p2k;
    using namespace p2k::fuzz;
    FuzzInput in(data, size);
    PlayedPhoneWorld world(in);

    for (size_t round = 0; round < kRounds && !in.empty(); ++round) {
        const size_t first = world.phone.requests().size();
        world.sink.clear();
        world.view.showVolumeInfo();
        require(isUtf8(world.sink.text()), "the log is UTF-8");
        checkBlock(world.sink.text(), world.phone.requests(), first, world.fileSystem);
    }
    return 0;
}
