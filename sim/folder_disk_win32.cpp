// The demo folder's disk on Windows: a byte-range lock for the lock,
// FlushFileBuffers before a file counts as written, MoveFileEx for the
// one-step replacement.

#include "sim/demo_folder.h"

#include <windows.h>

#include <algorithm>

namespace p2k::sim {

namespace {

namespace fs = std::filesystem;

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (valid())
            CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    HANDLE release()
    {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }
    // Closes now, so that a failing close is seen.
    bool close() { return CloseHandle(release()) != 0; }

private:
    HANDLE handle_;
};

class FileLock : public FolderLock {
public:
    explicit FileLock(HANDLE handle) : handle_(handle) {}

private:
    Handle handle_;
};

bool writeAll(HANDLE file, std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes = bytes.subspan(written);
    }
    return true;
}

class Win32FolderDisk : public FolderDisk {
public:
    LockAttempt tryLock(const fs::path& path) override
    {
        Handle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid())
            return {};
        OVERLAPPED whole{};
        if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole))
            return {nullptr, GetLastError() == ERROR_LOCK_VIOLATION};
        return {std::make_unique<FileLock>(file.release()), false};
    }

    bool writeFile(const fs::path& path, std::span<const uint8_t> bytes) override
    {
        Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
        if (!file.valid())
            return false;
        if (writeAll(file.get(), bytes) && FlushFileBuffers(file.get()) && file.close())
            return true;
        file.close(); // a file still open cannot be deleted
        DeleteFileW(path.c_str());
        return false;
    }

    // Each file was flushed as it was written: Windows has no flush of a whole folder.
    bool flushWrites(const fs::path&) override { return true; }

    bool replaceFile(const fs::path& from, const fs::path& to) override
    {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }

    bool removeFile(const fs::path& path) override { return DeleteFileW(path.c_str()) != 0; }
};

} // namespace

std::unique_ptr<FolderDisk> makeFolderDisk()
{
    return std::make_unique<Win32FolderDisk>();
}

} // namespace p2k::sim
