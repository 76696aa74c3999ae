#pragma once

#include "app/phone_commands.h"
#include "commands/memory_file_list.h"
#include "link/clock.h"
#include "link/phone_link.h"
#include "link/test_command_channel.h"
#include "mount/mount_front_end.h"
#include "mount/name_map.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace p2k::mount {

// Touching this file at the top of the mount fetches the list again.
inline constexpr const char* kRefreshControlPath = "/.p2kfm-refresh";
inline constexpr const char* kAttributesXattr = "user.p2k.attributes";

struct MountSettings {
    uint32_t listCacheMs = 5000;            // the list is fetched again when older than this
    size_t fileCacheLimit = 16 * 1024 * 1024; // the largest file one open may hold in memory
};

struct NodeInfo {
    bool folder = false;
    uint64_t size = 0;
};

struct SpaceInfo {
    uint64_t freeBytes = 0;
    uint64_t usedBytes = 0;
};

// Opens the phone's command interface again; null while the phone is away.
using PhoneConnector = std::function<std::unique_ptr<UsbTransport>()>;
// Called after every change the phone took (the demo folder saves); false
// when what changed could not be kept.
using ChangeKeeper = std::function<bool()>;

// The phone's file system as a tree of folders and files, without the
// kernel: every member answers 0 or a negative errno, as the FUSE glue
// passes on. Reads and writes go through the same file commands as the
// window and the command-line tool, one whole file at a time. Not
// thread-safe: the glue runs single-threaded, as the phone has one open file.
class PhoneMount {
public:
    PhoneMount(PhoneLink& link, TestCommandChannel& channel, OperatorLog& log, LogSink& pane, Clock& clock, MountSettings settings,
               PhoneConnector connector, ChangeKeeper keeper);

    int getattr(const std::string& path, NodeInfo& info);
    int readdir(const std::string& path, std::vector<std::string>& names);
    int open(const std::string& path, bool truncate, uint64_t& handle);
    int create(const std::string& path, uint64_t& handle);
    int read(uint64_t handle, uint64_t offset, size_t size, std::vector<uint8_t>& out);
    int write(uint64_t handle, uint64_t offset, std::span<const uint8_t> data);
    int truncate(const std::string& path, uint64_t size);
    int truncateOpen(uint64_t handle, uint64_t size);
    // Uploads what was written since the last flush; close() reports this.
    int flush(uint64_t handle);
    int release(uint64_t handle);
    int unlink(const std::string& path);
    int mkdir(const std::string& path);
    int rmdir(const std::string& path);
    int rename(const std::string& from, const std::string& to);
    int chmod(const std::string& path);
    int touch(const std::string& path);
    int statfs(SpaceInfo& space);
    int getxattr(const std::string& path, const std::string& name, std::string& value);
    int setxattr(const std::string& path, const std::string& name, const std::string& value);
    int listxattr(const std::string& path, std::vector<std::string>& names);

    // The mount's own reasons for failures (besides the commands' log).
    const std::string& lastReason() const { return lastReason_; }

private:
    struct OpenFile {
        std::string path;
        PhoneEntry entry;
        bool control = false;
        std::vector<uint8_t> bytes;
        bool loaded = false;
        bool dirty = false;
    };

    int ready();
    int refreshList();
    int lostPhone();
    int fail(int error, const std::string& path, const std::string& reason);
    OpenFile* openFile(uint64_t handle);
    uint64_t addOpenFile(OpenFile file);
    int load(OpenFile& file);
    int download(const PhoneEntry& entry, std::vector<uint8_t>& bytes);
    int failedUpload(const OpenFile& file);
    int upload(OpenFile& file);
    bool deleteListed(const std::string& phoneName);
    OpenFile* pendingAt(const std::string& path);
    void rebuildNames();
    int keepChange();
    int resize(OpenFile& file, uint64_t size);

    PhoneLink& link_;
    LogSink& pane_;
    Clock& clock_;
    MountSettings settings_;
    PhoneConnector connector_;
    ChangeKeeper keeper_;
    MountWindow window_;
    MemoryFileList list_;
    TransferDialogs dialogs_;
    TransferBuffer transfer_;
    int32_t autoRefresh_ = 1; // the list is fetched again after every change
    PhoneCommands commands_;
    NameMap names_;
    bool listFresh_ = false;
    uint32_t listFetchedAt_ = 0;
    std::map<uint64_t, OpenFile> openFiles_;
    uint64_t nextHandle_ = 1;
    std::string lastReason_;
    uint64_t usedBytes_ = 0;
};

} // namespace p2k::mount
