#include "sim/sim_wire.h"

#include "sim/sim_bytes.h"

#include <utility>

namespace p2k::sim {

ServiceReply replyDone()
{
    return ServiceReply{status::kDone, {}};
}

ServiceReply replyData(std::vector<uint8_t> data)
{
    return ServiceReply{status::kData, std::move(data)};
}

ServiceReply replyStatus(uint8_t answerStatus)
{
    return ServiceReply{answerStatus, {}};
}

ServiceReply replyByte(uint8_t value)
{
    return ServiceReply{status::kData, {value}};
}

SetupBlock decodeSetupBlock(std::span<const uint8_t> input)
{
    SimReader in(input);
    return SetupBlock{in.u8(0), in.u8(1), in.le16(2), in.le16(4), in.le16(6)};
}

CommandHeader decodeCommandHeader(std::span<const uint8_t> headerBytes)
{
    SimReader in(headerBytes);
    return CommandHeader{in.be16(0), in.be16(2), in.be16(4), in.be16(6)};
}

size_t packetLength(const AnswerPacket& packet)
{
    return wire::kHeaderSize + packet.data.size();
}

std::vector<uint8_t> encodeDataAnswer(const AnswerPacket& packet)
{
    const size_t length = packetLength(packet);
    std::vector<uint8_t> out(wire::kCountBlockSize, 0); // guessed: bytes 1-3 of the count block are zero
    out[0] = packet.answerCount;
    simAppendBe16(out, static_cast<uint16_t>(length));

    const auto echoed = static_cast<uint16_t>((packet.sequence + packet.sequenceShift) & wire::kTwelveBits);
    simAppendBe16(out, static_cast<uint16_t>((packet.answerFlag ? wire::kAnswerFlag : 0) | echoed));
    simAppendBe16(out, static_cast<uint16_t>((packet.status << 12) | (packet.opcode & wire::kTwelveBits)));
    simAppendBe16(out, static_cast<uint16_t>(packet.data.size() - packet.dataLengthShortfall));
    simAppendBe16(out, 0); // guessed: the two bytes after the data length are zero
    out.insert(out.end(), packet.data.begin(), packet.data.end());
    return out;
}

} // namespace p2k::sim
