#include "commands/pc_files_win32.h"

#include "core/text_win32.h"

#include <windows.h>

#include <limits>

namespace p2k {

namespace {

class Win32PcFile : public PcFile {
public:
    explicit Win32PcFile(HANDLE file) : file_(file) {}
    ~Win32PcFile() override { CloseHandle(file_); }
    Win32PcFile(const Win32PcFile&) = delete;
    Win32PcFile& operator=(const Win32PcFile&) = delete;

    std::optional<uint64_t> size() override
    {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file_, &size))
            return std::nullopt;
        return static_cast<uint64_t>(size.QuadPart);
    }

    bool readAll(std::span<uint8_t> buffer) override
    {
        if (buffer.size() > std::numeric_limits<DWORD>::max())
            return false;
        DWORD read = 0;
        return ReadFile(file_, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) &&
               read == buffer.size();
    }

    bool writeAll(std::span<const uint8_t> data) override
    {
        if (data.size() > std::numeric_limits<DWORD>::max())
            return false;
        DWORD written = 0;
        return WriteFile(file_, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
               written == data.size();
    }

private:
    HANDLE file_;
};

std::unique_ptr<PcFile> open(const std::string& path, DWORD access, DWORD share, DWORD disposition)
{
    const HANDLE file = CreateFileW(widen(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::make_unique<Win32PcFile>(file);
}

class Win32PcFiles : public PcFiles {
public:
    std::unique_ptr<PcFile> openExisting(const std::string& path) override
    {
        return open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    }
    std::unique_ptr<PcFile> createNew(const std::string& path) override
    {
        return open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    }
    void removeIncomplete(const std::string& path) override { DeleteFileW(widen(path).c_str()); }
    void setCurrentDirectory(const std::string& folder) override { SetCurrentDirectoryW(widen(folder).c_str()); }
};

} // namespace

std::unique_ptr<PcFiles> makeWin32PcFiles()
{
    return std::make_unique<Win32PcFiles>();
}

} // namespace p2k
