#include "commands/pc_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace p2k {

namespace {

class StandardPcFile : public PcFile {
public:
    explicit StandardPcFile(std::FILE* file) : file_(file) {}
    ~StandardPcFile() override { std::fclose(file_); }
    StandardPcFile(const StandardPcFile&) = delete;
    StandardPcFile& operator=(const StandardPcFile&) = delete;

    std::optional<uint64_t> size() override
    {
        if (std::fseek(file_, 0, SEEK_END) != 0)
            return std::nullopt;
        const long end = std::ftell(file_);
        if (end < 0 || std::fseek(file_, 0, SEEK_SET) != 0)
            return std::nullopt;
        return static_cast<uint64_t>(end);
    }
    bool readAll(std::span<uint8_t> buffer) override
    {
        return std::fread(buffer.data(), 1, buffer.size(), file_) == buffer.size();
    }
    bool writeAll(std::span<const uint8_t> data) override
    {
        // An empty file is written by creating it: fwrite takes no null buffer.
        if (!data.empty() && std::fwrite(data.data(), 1, data.size(), file_) != data.size())
            return false;
        return std::fflush(file_) == 0;
    }

private:
    std::FILE* file_;
};

std::unique_ptr<PcFile> wrap(std::FILE* file)
{
    return file ? std::make_unique<StandardPcFile>(file) : nullptr;
}

class StandardPcFiles : public PcFiles {
public:
    std::unique_ptr<PcFile> openExisting(const std::string& path) override
    {
        std::error_code error;
        if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), error))
            return nullptr;
        return wrap(std::fopen(path.c_str(), "rb"));
    }
    std::unique_ptr<PcFile> createNew(const std::string& path) override
    {
        // "x": the open fails when the file exists, atomically.
        return wrap(std::fopen(path.c_str(), "wbx"));
    }
    void removeIncomplete(const std::string& path) override
    {
        std::error_code error;
        std::filesystem::remove(std::filesystem::u8path(path), error);
    }
    void setCurrentDirectory(const std::string& folder) override
    {
        std::error_code error;
        std::filesystem::current_path(std::filesystem::u8path(folder), error);
    }
};

} // namespace

std::unique_ptr<PcFiles> makeStandardPcFiles()
{
    return std::make_unique<StandardPcFiles>();
}

} // namespace p2k
