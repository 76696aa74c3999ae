// The string-descriptor decoding fed arbitrary driver outputs: the name is
// the low bytes of the units that arrived, never more than the count says,
// never past a zero, and only the exact interface name matches.

#include "core/operator_log.h"
#include "fuzz/fuzz_support.h"
#include "link/byte_order.h"
#include "link/interface_name.h"

namespace p2k::fuzz {
namespace {

constexpr size_t kCountSize = 4;

void checkName(std::span<const uint8_t> output, bool decoded, const std::string& name, const std::string& log)
{
    if (output.size() < kCountSize) {
        require(!decoded && name.empty() && log == "USB: Answer size invlid!\r\n", "a short output fails, logged");
        return;
    }
    require(decoded && log.empty(), "an output with its count decodes silently");
    const size_t units = (output.size() - kCountSize) / 2;
    require(name.size() <= units && name.size() <= loadLe32(output.data()), "no more characters than count and units");
    for (size_t i = 0; i < name.size(); ++i)
        require(name[i] != '\0' && static_cast<uint8_t>(name[i]) == output[kCountSize + 2 * i],
                "each character is the low byte of its unit");
    const bool stoppedAtZero = name.size() < units && output[kCountSize + 2 * name.size()] == 0;
    require(name.size() == std::min<size_t>(units, loadLe32(output.data())) || stoppedAtZero,
            "the name ends at the count, the units received or a zero");
    require(isCommandInterfaceName(name) == (name == "Motorola Test Command"), "only the exact name matches");
}

// The same bytes through the driver request, which may also fail or claim
// more output than it has room for.
void checkRequest(FuzzInput& in)
{
    const uint8_t shape = in.u8();
    const std::span<const uint8_t> played = in.take(in.remaining());
    MemoryLogSink sink;
    OperatorLog log(&sink);
    std::string name = "stale";
    const bool read = readInterfaceName(
        [&](std::span<const uint8_t> input, std::span<uint8_t> output, uint32_t) {
            require(input.size() == 2 && loadLe16(input.data()) == kInterfaceNameIndex, "the request names the index");
            if (const std::optional<TransferOutcome> failure = playedFailure(shape))
                return TransferResult{*failure, 0};
            const size_t copied = std::min(played.size(), output.size());
            std::copy_n(played.begin(), copied, output.begin());
            return TransferResult{TransferOutcome::Done, (shape & 0xF0) == 0xF0 ? output.size() + shape : copied};
        },
        kInterfaceNameIndex, log, name);
    require(read || name.empty(), "a failed read leaves no name");
    require(read || !sink.text().empty(), "a failed read is logged");
}

} // namespace
} // namespace p2k::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace p2k;
    MemoryLogSink sink;
    OperatorLog log(&sink);
    std::string name = "stale";
    const std::span<const uint8_t> output(data, size);
    const bool decoded = decodeInterfaceName(output, log, name);
    fuzz::checkName(output, decoded, name, sink.text());
    fuzz::FuzzInput in(data, size);
    fuzz::checkRequest(in);
    return 0;
}
