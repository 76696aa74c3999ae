// The demo folder's disk on Linux: flock for the lock, syncfs to flush a
// save's files in one go, rename for the one-step replacement.

#include "sim/demo_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace p2k::sim {

namespace {

namespace fs = std::filesystem;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // Closes now, so that a failing close is seen.
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

class FlockLock : public FolderLock {
public:
    explicit FlockLock(int fd) : fd_(fd) {}

private:
    FileDescriptor fd_;
};

bool writeAll(int fd, std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
    return true;
}

// The rename itself is on the disk only once its folder is.
bool syncFolder(const fs::path& folder)
{
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

class PosixFolderDisk : public FolderDisk {
public:
    LockAttempt tryLock(const fs::path& path) override
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return {};
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            ::close(fd);
            return {nullptr, busy};
        }
        return {std::make_unique<FlockLock>(fd), false};
    }

    bool writeFile(const fs::path& path, std::span<const uint8_t> bytes) override
    {
        FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (fd.get() < 0)
            return false;
        if (writeAll(fd.get(), bytes) && fd.close())
            return true;
        ::unlink(path.c_str());
        return false;
    }

    bool flushWrites(const fs::path& folder) override
    {
        FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        return fd.get() >= 0 && ::syncfs(fd.get()) == 0;
    }

    bool replaceFile(const fs::path& from, const fs::path& to) override
    {
        return ::rename(from.c_str(), to.c_str()) == 0 && syncFolder(to.parent_path());
    }

    bool removeFile(const fs::path& path) override { return ::unlink(path.c_str()) == 0; }
};

} // namespace

std::unique_ptr<FolderDisk> makeFolderDisk()
{
    return std::make_unique<PosixFolderDisk>();
}

} // namespace p2k::sim
