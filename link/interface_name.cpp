#include "link/interface_name.h"

#include "core/operator_log.h"
#include "link/byte_order.h"

#include <algorithm>
#include <array>

namespace p2k {

bool decodeInterfaceName(std::span<const uint8_t> output, OperatorLog& log, std::string& name)
{
    name.clear();
    if (output.size() < descriptor::kCountSize) {
        log.appendLog("USB: Answer size invlid!\r\n");
        return false;
    }
    const size_t unitsReceived = (output.size() - descriptor::kCountSize) / 2;
    const size_t count = std::min<size_t>(loadLe32(output.data()), unitsReceived);
    const uint8_t* units = output.data() + descriptor::kCountSize;
    for (size_t i = 0; i < count; ++i) {
        const auto low = static_cast<char>(loadLe16(units + 2 * i) & 0xFF);
        if (low == '\0')
            break;
        name.push_back(low);
    }
    return true;
}

bool readInterfaceName(const DescriptorRequest& request, uint16_t index, OperatorLog& log, std::string& name)
{
    name.clear();
    std::array<uint8_t, descriptor::kInputSize> input{};
    storeLe16(input.data(), index);
    std::array<uint8_t, descriptor::kOutputSize> output{};
    const TransferResult result = request(input, output, descriptor::kTimeoutMs);
    if (!reportTransferOutcome(log, result.outcome))
        return false;
    // A request never reports more than the output holds; the clamp keeps a
    // misbehaving one from making us read past it.
    const size_t received = std::min(result.outputBytes, output.size());
    return decodeInterfaceName(std::span<const uint8_t>(output.data(), received), log, name);
}

bool isCommandInterfaceName(std::string_view name)
{
    return name == kCommandInterfaceName;
}

bool hasCommandInterfaceName(const DescriptorRequest& request, uint16_t index, OperatorLog& log)
{
    std::string name;
    return readInterfaceName(request, index, log, name) && isCommandInterfaceName(name);
}

} // namespace p2k
