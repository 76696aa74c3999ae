#include "mount/mount_front_end.h"

#include <algorithm>

namespace p2k::mount {

namespace {

class BufferFile : public PcFile {
public:
    explicit BufferFile(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    std::optional<uint64_t> size() override { return bytes_.size(); }
    bool readAll(std::span<uint8_t> buffer) override
    {
        if (buffer.size() != bytes_.size())
            return false;
        std::copy(bytes_.begin(), bytes_.end(), buffer.begin());
        return true;
    }
    bool writeAll(std::span<const uint8_t> data) override
    {
        bytes_.assign(data.begin(), data.end());
        return true;
    }

private:
    std::vector<uint8_t>& bytes_;
};

} // namespace

std::unique_ptr<PcFile> TransferBuffer::openExisting(const std::string&)
{
    return std::make_unique<BufferFile>(bytes);
}

std::unique_ptr<PcFile> TransferBuffer::createNew(const std::string&)
{
    bytes.clear();
    return std::make_unique<BufferFile>(bytes);
}

} // namespace p2k::mount
