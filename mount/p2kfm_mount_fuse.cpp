// p2kfm-mount: the phone's file system as a folder tree, through libfuse3.
// Everything but the calls into libfuse lives in PhoneMount.

#define FUSE_USE_VERSION 31

#include "app/real_phone.h"
#include "link/phone_platform_libusb.h"
#include "mount/phone_mount.h"
#include "sim/demo_folder.h"
#include "sim/demo_phone.h"

#include <fcntl.h>
#include <fuse.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace p2k::mount {
namespace {

// The log on standard error, seen when the mount runs in the foreground.
class StderrLog : public LogSink {
public:
    void append(std::string_view utf8) override
    {
        std::fwrite(utf8.data(), 1, utf8.size(), stderr);
        std::fflush(stderr);
    }
};

struct Options {
    bool demo = false;
    std::string demoDir;
    std::vector<std::string> fuseArgs; // the program name, the mount point and the FUSE options
};

// Everything the mount needs, alive for as long as it is mounted.
struct Mounted {
    StderrLog sink;
    OperatorLog log{&sink};
    PhoneLink link;
    TestCommandChannel channel{link, log, systemClock()};
    std::unique_ptr<sim::FolderDisk> disk = sim::makeFolderDisk();
    // Holds the demo folder's lock for the mount's life, as p2kfm-cli does for its run.
    std::unique_ptr<sim::DemoFolder> demoFolder;
    std::unique_ptr<sim::SimulatedPhone> memoryPhone;
    sim::SimulatedPhone* demoPhone = nullptr;
    std::unique_ptr<PhonePlatform> platform;
    std::unique_ptr<PhoneMount> mount;
    std::time_t mountTime = std::time(nullptr);
};

Mounted& mounted()
{
    return *static_cast<Mounted*>(fuse_get_context()->private_data);
}

PhoneMount& phone()
{
    return *mounted().mount;
}

void fillStat(const NodeInfo& info, struct stat* st)
{
    std::memset(st, 0, sizeof *st);
    st->st_mode = info.folder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    st->st_nlink = info.folder ? 2 : 1;
    st->st_size = static_cast<off_t>(info.size);
    st->st_blocks = static_cast<blkcnt_t>((info.size + 511) / 512);
    st->st_uid = getuid();
    st->st_gid = getgid();
    st->st_atime = st->st_mtime = st->st_ctime = mounted().mountTime;
}

int getattrOp(const char* path, struct stat* st, fuse_file_info*)
{
    NodeInfo info;
    const int result = phone().getattr(path, info);
    if (result == 0)
        fillStat(info, st);
    return result;
}

int readdirOp(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    std::vector<std::string> names;
    if (const int error = phone().readdir(path, names))
        return error;
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const std::string& name : names)
        fill(buffer, name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

int openOp(const char* path, fuse_file_info* fi)
{
    return phone().open(path, (fi->flags & O_TRUNC) != 0, fi->fh);
}

int createOp(const char* path, mode_t, fuse_file_info* fi)
{
    return phone().create(path, fi->fh);
}

int readOp(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi)
{
    std::vector<uint8_t> bytes;
    if (const int error = phone().read(fi->fh, static_cast<uint64_t>(offset), size, bytes))
        return error;
    std::memcpy(buffer, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}

int writeOp(const char*, const char* data, size_t size, off_t offset, fuse_file_info* fi)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    if (const int error = phone().write(fi->fh, static_cast<uint64_t>(offset), std::span(bytes, size)))
        return error;
    return static_cast<int>(size);
}

int truncateOp(const char* path, off_t size, fuse_file_info* fi)
{
    if (size < 0)
        return -EINVAL;
    return fi ? phone().truncateOpen(fi->fh, static_cast<uint64_t>(size))
              : phone().truncate(path, static_cast<uint64_t>(size));
}

int flushOp(const char*, fuse_file_info* fi)
{
    return phone().flush(fi->fh);
}

int releaseOp(const char*, fuse_file_info* fi)
{
    return phone().release(fi->fh);
}

int unlinkOp(const char* path)
{
    return phone().unlink(path);
}

int mkdirOp(const char* path, mode_t)
{
    return phone().mkdir(path);
}

int rmdirOp(const char* path)
{
    return phone().rmdir(path);
}

int renameOp(const char* from, const char* to, unsigned int)
{
    return phone().rename(from, to);
}

int chmodOp(const char* path, mode_t, fuse_file_info*)
{
    return phone().chmod(path);
}

int utimensOp(const char* path, const timespec*, fuse_file_info*)
{
    return phone().touch(path);
}

int statfsOp(const char*, struct statvfs* st)
{
    SpaceInfo space;
    if (const int error = phone().statfs(space))
        return error;
    constexpr uint64_t kUnit = 1024;
    std::memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = kUnit;
    st->f_blocks = (space.freeBytes + space.usedBytes + kUnit - 1) / kUnit;
    st->f_bfree = st->f_bavail = space.freeBytes / kUnit;
    st->f_namemax = 255;
    return 0;
}

// The size-query protocol of getxattr and listxattr: size 0 asks for the length.
int copyOut(const std::string& value, char* buffer, size_t size)
{
    if (size == 0)
        return static_cast<int>(value.size());
    if (size < value.size())
        return -ERANGE;
    std::memcpy(buffer, value.data(), value.size());
    return static_cast<int>(value.size());
}

int getxattrOp(const char* path, const char* name, char* buffer, size_t size)
{
    std::string value;
    if (const int error = phone().getxattr(path, name, value))
        return error;
    return copyOut(value, buffer, size);
}

int setxattrOp(const char* path, const char* name, const char* value, size_t size, int)
{
    return phone().setxattr(path, name, std::string(value, size));
}

int listxattrOp(const char* path, char* buffer, size_t size)
{
    std::vector<std::string> names;
    if (const int error = phone().listxattr(path, names))
        return error;
    std::string list;
    for (const std::string& name : names)
        list += name + '\0';
    return copyOut(list, buffer, size);
}

void* initOp(fuse_conn_info*, fuse_config* config)
{
    // Sizes change behind the kernel's back when the list is fetched again.
    config->attr_timeout = 1;
    config->entry_timeout = 1;
    config->negative_timeout = 0;
    return fuse_get_context()->private_data;
}

fuse_operations operations()
{
    fuse_operations ops{};
    ops.getattr = getattrOp;
    ops.readdir = readdirOp;
    ops.open = openOp;
    ops.create = createOp;
    ops.read = readOp;
    ops.write = writeOp;
    ops.truncate = truncateOp;
    ops.flush = flushOp;
    ops.release = releaseOp;
    ops.unlink = unlinkOp;
    ops.mkdir = mkdirOp;
    ops.rmdir = rmdirOp;
    ops.rename = renameOp;
    ops.chmod = chmodOp;
    ops.utimens = utimensOp;
    ops.statfs = statfsOp;
    ops.getxattr = getxattrOp;
    ops.setxattr = setxattrOp;
    ops.listxattr = listxattrOp;
    ops.init = initOp;
    return ops;
}

void printUsage(std::FILE* out)
{
    std::fputs("usage: p2kfm-mount [--demo | --demo-dir DIR] [-f] [-d] [-o OPTIONS] MOUNTPOINT\n\n"
               "  --demo          mount the built-in demo phone (in memory)\n"
               "  --demo-dir DIR  mount a demo phone kept in DIR between runs\n"
               "  -f              stay in the foreground\n"
               "  -d              print every file system call (implies -f)\n"
               "  -o OPTIONS      the usual FUSE mount options\n\n"
               "Unmount with: fusermount3 -u MOUNTPOINT\n",
               out);
}

// Takes the program's own options; the rest goes to libfuse.
bool parse(int argc, char** argv, Options& options)
{
    options.fuseArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--demo-dir") {
            if (i + 1 >= argc)
                return false;
            options.demoDir = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            return false;
        } else {
            options.fuseArgs.push_back(arg);
        }
    }
    // One call at a time: the phone has one open file.
    options.fuseArgs.push_back("-s");
    return true;
}

// Builds the phone the mount talks to; false, with a reason, when there is none.
bool connect(const Options& options, Mounted& m)
{
    PhoneConnector connector;
    ChangeKeeper keeper;
    if (!options.demoDir.empty()) {
        // One program at a time: the folder's lock, which p2kfm-cli takes too.
        std::string error;
        m.demoFolder = sim::DemoFolder::open(systemClock(), *m.disk, options.demoDir, error);
        if (!m.demoFolder) {
            std::fprintf(stderr, "p2kfm-mount: %s\n", error.c_str());
            return false;
        }
        m.demoPhone = &m.demoFolder->phone();
        keeper = [&m] {
            std::string error;
            if (m.demoFolder->save(error))
                return true;
            std::fprintf(stderr, "p2kfm-mount: %s\n", error.c_str());
            return false;
        };
    } else if (options.demo) {
        m.memoryPhone = sim::makeDemoPhone(systemClock());
        m.demoPhone = m.memoryPhone.get();
    }
    if (m.demoPhone) {
        connector = [&m] { return m.demoPhone->open(); };
    } else {
        m.platform = makeLibusbPlatform(m.log, systemClock());
        connector = [&m] { return m.platform->findPhone().device; };
        std::unique_ptr<UsbTransport> device = openRealPhone(*m.platform, systemClock());
        if (!device) {
            std::fputs("p2kfm-mount: no phone found\n", stderr);
            return false;
        }
        m.link.attach(std::move(device));
    }
    m.mount = std::make_unique<PhoneMount>(m.link, m.channel, m.log, m.sink, systemClock(), MountSettings{},
                                           std::move(connector), std::move(keeper));
    return true;
}

} // namespace
} // namespace p2k::mount

int main(int argc, char** argv)
{
    using namespace p2k::mount;
    Options options;
    if (!parse(argc, argv, options)) {
        printUsage(stderr);
        return 1;
    }
    Mounted m;
    if (!connect(options, m))
        return 1;
    std::vector<char*> args;
    for (std::string& arg : options.fuseArgs)
        args.push_back(arg.data());
    const fuse_operations ops = operations();
    return fuse_main(static_cast<int>(args.size()), args.data(), &ops, &m);
}
