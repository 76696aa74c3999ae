#include "mount/phone_mount.h"

#include "sim/demo_phone.h"
#include "sim/simulated_phone.h"
#include "tests/support/phone_world.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace p2k::mount {
namespace {

using sim::toPhoneName;

// The mount over the demo phone on a fake clock; the phone is opened again
// whenever the mount asks, as a real one would be found again.
// Every test also checks that the mount spoke the protocol without a breach.
struct MountWorld : test::ChannelToPhone {
    explicit MountWorld(MountSettings settings = {}, ChangeKeeper keeper = {})
        : mount(link, channel, log, sink, clock, settings, [this] { return phone->open(); }, std::move(keeper))
    {
        phone = sim::makeDemoPhone(clock);
    }
    ~MountWorld() { EXPECT_TRUE(phone->violations().empty()) << phone->violations().front(); }

    std::vector<uint8_t> contentOf(const std::string& utf8Name) const
    {
        const sim::SimFile* file = phone->findFile(toPhoneName(utf8Name));
        return file ? file->content : std::vector<uint8_t>{};
    }

    // Creates path on the mount with bytes and closes it; close's result.
    int writeNew(const std::string& path, const std::vector<uint8_t>& bytes)
    {
        uint64_t handle = 0;
        EXPECT_EQ(mount.create(path, handle), 0);
        EXPECT_EQ(mount.write(handle, 0, bytes), 0);
        const int flushed = mount.flush(handle);
        EXPECT_EQ(mount.release(handle), 0);
        return flushed;
    }

    std::vector<uint8_t> readAll(const std::string& path)
    {
        uint64_t handle = 0;
        std::vector<uint8_t> out;
        EXPECT_EQ(mount.open(path, false, handle), 0);
        EXPECT_EQ(mount.read(handle, 0, 1 << 20, out), 0);
        mount.release(handle);
        return out;
    }

    PhoneMount mount;
};

std::vector<uint8_t> pattern(size_t size, uint8_t seed = 1)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + seed);
    return bytes;
}

TEST(MountNames, PhoneNamesShowAsPathsWithEscapes)
{
    const struct {
        std::string phoneName;
        std::string path;
    } cases[] = {
        {"/a/mobile/audio/x.mid", "/a/mobile/audio/x.mid"},
        {"MyToneDB.db", "/MyToneDB.db"},
        {toPhoneName("/a/Мелодия.mid"), "/a/Мелодия.mid"},
        {"/a/\x98x", "/a/%98x"},
        {"/a/100%", "/a/100%25"},
        {"/a/tab\there", "/a/tab%09here"},
        {"/a/../x", "/a/%2E%2E/x"},
        {"/./x", "/%2E/x"},
        {"//x", "/%2F%2Fx"},
        {"/a/b/", "/%2Fa%2Fb%2F"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mountPathFor(c.phoneName), c.path) << c.phoneName;
}

TEST(MountNames, PathsMadeOnTheMountGoBackToPhoneNames)
{
    const struct {
        std::string path;
        std::optional<std::string> phoneName;
    } cases[] = {
        {"/a/mobile/x.mid", "/a/mobile/x.mid"},
        {"/top.txt", "top.txt"},
        {"/a/Звонок.mid", toPhoneName("/a/Звонок.mid")},
        {"/a/%98x", "/a/\x98x"},
        {"/a/100%25", "/a/100%"},
        {"/a/50%", "/a/50%"},
        {"/a/\xE2\x9C\x93.txt", std::nullopt}, // a check mark: not in the phone's code page
    };
    for (const auto& c : cases)
        EXPECT_EQ(phoneNameFor(c.path), c.phoneName) << c.path;
}

TEST(MountNames, CollisionsGetASuffixInListOrder)
{
    NameMap names;
    names.rebuild({{"/a/x.mid", 0, 1}, {"a/x.mid", 0, 2}, {"/a/x.mid", 0, 3}, {"/a/b", 0, 4}, {"/a/b/c", 0, 5},
                   {"/.p2kfm-refresh", 0, 6}},
                  {kRefreshControlPath});
    const struct {
        std::string path;
        uint32_t size;
    } cases[] = {{"/a/x.mid", 1}, {"/a/x (2).mid", 2}, {"/a/x (3).mid", 3}, {"/a/b (2)", 4}, {"/a/b/c", 5},
                 {"/.p2kfm-refresh (2)", 6}};
    for (const auto& c : cases) {
        ASSERT_NE(names.file(c.path), nullptr) << c.path;
        EXPECT_EQ(names.file(c.path)->size, c.size) << c.path;
    }
    EXPECT_TRUE(names.isFolder("/a/b"));
    EXPECT_EQ(names.children("/a"), (std::vector<std::string>{"b", "b (2)", "x (2).mid", "x (3).mid", "x.mid"}));
}

TEST(PhoneMount, ShowsTheDemoPhoneAsFoldersWithListedSizes)
{
    MountWorld world;
    std::vector<std::string> top;
    ASSERT_EQ(world.mount.readdir("/", top), 0);
    EXPECT_EQ(top, (std::vector<std::string>{"MyToneDB.db", "a", ".p2kfm-refresh"}));
    std::vector<std::string> pictures;
    ASSERT_EQ(world.mount.readdir("/a/mobile/picture", pictures), 0);
    EXPECT_NE(std::find(pictures.begin(), pictures.end(), "Фото_001.jpg"), pictures.end());
    NodeInfo info;
    ASSERT_EQ(world.mount.getattr("/a/mobile/audio/Мелодия.mid", info), 0);
    EXPECT_FALSE(info.folder);
    EXPECT_EQ(info.size, 2750u);
    ASSERT_EQ(world.mount.getattr("/a/mobile", info), 0);
    EXPECT_TRUE(info.folder);
    EXPECT_EQ(world.mount.getattr("/a/nothing", info), -ENOENT);
}

TEST(PhoneMount, ReadsWholeFilesAndRanges)
{
    MountWorld world;
    for (const char* name : {"/a/mobile/audio/Мелодия.mid", "/a/mobile/picture/Thumb.bmp", "MyToneDB.db"}) {
        const std::string path = mountPathFor(toPhoneName(name));
        EXPECT_EQ(world.readAll(path), world.contentOf(name)) << name;
    }
    EXPECT_TRUE(world.readAll("/a/mobile/system/error.log").empty());

    uint64_t handle = 0;
    std::vector<uint8_t> out;
    ASSERT_EQ(world.mount.open("/a/mobile/audio/Ring01.mid", false, handle), 0);
    ASSERT_EQ(world.mount.read(handle, 3400, 100, out), 0);
    const std::vector<uint8_t> whole = world.contentOf("/a/mobile/audio/Ring01.mid");
    EXPECT_EQ(out, std::vector<uint8_t>(whole.begin() + 3400, whole.end()));
    ASSERT_EQ(world.mount.read(handle, 5000, 10, out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(world.mount.release(handle), 0);
    EXPECT_FALSE(world.phone->fileOpen());
}

TEST(PhoneMount, AFileAboveTheCacheLimitIsRefused)
{
    MountWorld world({.listCacheMs = 5000, .fileCacheLimit = 4096});
    uint64_t handle = 0;
    std::vector<uint8_t> out;
    ASSERT_EQ(world.mount.open("/a/mobile/audio/Ring02.mid", false, handle), 0);
    EXPECT_EQ(world.mount.read(handle, 0, 10, out), -EFBIG);
    world.mount.release(handle);
    EXPECT_EQ(world.readAll("/a/mobile/audio/Ring03.mid"), world.contentOf("/a/mobile/audio/Ring03.mid"));
}

TEST(PhoneMount, NewFilesAreUploadedOnClose)
{
    MountWorld world;
    const std::vector<uint8_t> bytes = pattern(2 * 1024 + 452);
    uint64_t handle = 0;
    ASSERT_EQ(world.mount.create("/a/mobile/audio/Новая.mid", handle), 0);
    ASSERT_EQ(world.mount.write(handle, 0, std::span(bytes).first(1000)), 0);
    ASSERT_EQ(world.mount.write(handle, 1000, std::span(bytes).subspan(1000)), 0);
    NodeInfo info;
    ASSERT_EQ(world.mount.getattr("/a/mobile/audio/Новая.mid", info), 0);
    EXPECT_EQ(info.size, bytes.size());
    EXPECT_EQ(world.phone->findFile(toPhoneName("/a/mobile/audio/Новая.mid")), nullptr);
    EXPECT_EQ(world.mount.flush(handle), 0);
    EXPECT_EQ(world.mount.release(handle), 0);
    EXPECT_EQ(world.contentOf("/a/mobile/audio/Новая.mid"), bytes);

    EXPECT_EQ(world.writeNew("/top.txt", pattern(10)), 0);
    EXPECT_EQ(world.contentOf("top.txt"), pattern(10));
}

TEST(PhoneMount, ReplacingDeletesFirstSoNoOldTailRemains)
{
    MountWorld world;
    const uint32_t freeBefore = world.phone->freeSpace();
    uint64_t handle = 0;
    ASSERT_EQ(world.mount.open("/a/mobile/audio/Classic.mid", true, handle), 0);
    ASSERT_EQ(world.mount.write(handle, 0, pattern(100, 9)), 0);
    EXPECT_EQ(world.mount.release(handle), 0);
    EXPECT_EQ(world.contentOf("/a/mobile/audio/Classic.mid"), pattern(100, 9));
    EXPECT_EQ(world.phone->freeSpace(), freeBefore + 7734 - 100);

    // Writing into the middle keeps the rest of the file.
    std::vector<uint8_t> expected = world.contentOf("/a/mobile/audio/Alarm.mid");
    std::fill_n(expected.begin() + 10, 5, 0xEE);
    ASSERT_EQ(world.mount.open("/a/mobile/audio/Alarm.mid", false, handle), 0);
    ASSERT_EQ(world.mount.write(handle, 10, std::vector<uint8_t>(5, 0xEE)), 0);
    EXPECT_EQ(world.mount.release(handle), 0);
    EXPECT_EQ(world.contentOf("/a/mobile/audio/Alarm.mid"), expected);
}

TEST(PhoneMount, FailedUploadsLeaveNothingOnThePhone)
{
    MountWorld world;
    const uint32_t free = world.phone->freeSpace();
    EXPECT_EQ(world.writeNew("/a/big.bin", std::vector<uint8_t>(free, 1)), -ENOSPC);
    EXPECT_EQ(world.phone->findFile("/a/big.bin"), nullptr);
    EXPECT_EQ(world.mount.lastReason(), "/a/big.bin: 1843200 bytes do not fit into 1843200 free bytes");

    // Too big to replace: the old file stays as it was.
    const std::vector<uint8_t> old = world.contentOf("/a/mobile/audio/Intro.wav");
    uint64_t handle = 0;
    ASSERT_EQ(world.mount.open("/a/mobile/audio/Intro.wav", true, handle), 0);
    ASSERT_EQ(world.mount.write(handle, 0, std::vector<uint8_t>(free + 1, 2)), 0);
    EXPECT_EQ(world.mount.flush(handle), -ENOSPC);
    EXPECT_EQ(world.mount.release(handle), 0);
    EXPECT_EQ(world.contentOf("/a/mobile/audio/Intro.wav"), old);

    // The phone refuses the third block: the partial file is deleted.
    // The list (count, 5 chunks, volume, free space) and the upload's volume,
    // free space and open come first: the fault strikes the third block.
    world.phone->injectFault({sim::Fault::ErrorStatus, sim::status::kGenericFailure, 8 + 3 + 2});
    EXPECT_EQ(world.writeNew("/a/part.bin", pattern(5000)), -EIO);
    EXPECT_EQ(world.phone->findFile("/a/part.bin"), nullptr);
    EXPECT_EQ(world.mount.lastReason(), "/a/part.bin: the upload failed; nothing of it is left on the phone");

    EXPECT_EQ(world.writeNew("/a/empty.bin", {}), -EINVAL);
    EXPECT_EQ(world.phone->findFile("/a/empty.bin"), nullptr);

    // Pulled after the first block (the upload fetches the list first): the
    // piece stays, and the reason says so.
    world.phone->injectFault({sim::Fault::UnplugMidRequest, 0, 8 + 3 + 1});
    EXPECT_EQ(world.writeNew("/a/torn.bin", pattern(5000)), -EIO);
    ASSERT_NE(world.phone->findFile("/a/torn.bin"), nullptr) << world.sink.text();
    EXPECT_EQ(world.phone->findFile("/a/torn.bin")->content.size(), 1024u);
    EXPECT_EQ(world.mount.lastReason(), "/a/torn.bin: the upload failed, and a piece of it may be left on the "
                                        "phone; delete it once the phone is back");
}

TEST(PhoneMount, UnlinkDeletesAndFoldersAreVirtual)
{
    MountWorld world;
    EXPECT_EQ(world.mount.unlink("/a/mobile/java/Game.jar"), 0);
    EXPECT_EQ(world.phone->findFile("/a/mobile/java/Game.jar"), nullptr);
    EXPECT_EQ(world.mount.rmdir("/a/mobile/java"), -ENOTEMPTY);
    EXPECT_EQ(world.mount.unlink("/a/mobile/java/Game.jad"), 0);
    NodeInfo info;
    EXPECT_EQ(world.mount.getattr("/a/mobile/java", info), -ENOENT);

    EXPECT_EQ(world.mount.mkdir("/a/new"), 0);
    EXPECT_EQ(world.mount.mkdir("/a/new/deeper"), 0);
    EXPECT_EQ(world.mount.getattr("/a/new/deeper", info), 0);
    EXPECT_TRUE(info.folder);
    EXPECT_EQ(world.writeNew("/a/new/deeper/f.txt", pattern(20)), 0);
    EXPECT_EQ(world.contentOf("/a/new/deeper/f.txt"), pattern(20));
    EXPECT_EQ(world.mount.rmdir("/a/new/deeper"), -ENOTEMPTY);
    EXPECT_EQ(world.mount.unlink("/a/new/deeper/f.txt"), 0);
    EXPECT_EQ(world.mount.rmdir("/a/new/deeper"), 0);
    EXPECT_EQ(world.mount.rmdir("/a/new"), 0);
    EXPECT_EQ(world.mount.getattr("/a/new", info), -ENOENT);
    EXPECT_EQ(world.mount.mkdir("/a/mobile"), -EEXIST);
    EXPECT_EQ(world.mount.unlink("/a/missing"), -ENOENT);
}

TEST(PhoneMount, RenameChmodAndAttributes)
{
    MountWorld world;
    EXPECT_EQ(world.mount.rename("/a/mobile/audio/Alarm.mid", "/a/mobile/audio/B.mid"), -EXDEV);
    EXPECT_NE(world.phone->findFile("/a/mobile/audio/Alarm.mid"), nullptr);
    EXPECT_EQ(world.mount.chmod("/a/mobile/audio/Alarm.mid"), -EPERM);

    std::string value;
    ASSERT_EQ(world.mount.getxattr("/a/mobile/java/Game.jar", kAttributesXattr, value), 0);
    EXPECT_EQ(value, "65536");
    EXPECT_EQ(world.mount.setxattr("/a/mobile/audio/Alarm.mid", kAttributesXattr, "5"), 0);
    EXPECT_EQ(world.phone->findFile("/a/mobile/audio/Alarm.mid")->attributes, 5u);
    ASSERT_EQ(world.mount.getxattr("/a/mobile/audio/Alarm.mid", kAttributesXattr, value), 0);
    EXPECT_EQ(value, "5");
    for (const char* bad : {"", "abc", "-1", "65537", "5 "})
        EXPECT_EQ(world.mount.setxattr("/a/mobile/audio/Alarm.mid", kAttributesXattr, bad), -EINVAL) << bad;
    EXPECT_EQ(world.phone->findFile("/a/mobile/audio/Alarm.mid")->attributes, 5u);
    EXPECT_EQ(world.mount.setxattr("/a/mobile/audio/Alarm.mid", "user.other", "1"), -ENOTSUP);
    EXPECT_EQ(world.mount.getxattr("/a/mobile", kAttributesXattr, value), -ENODATA);
}

TEST(PhoneMount, ListIsFetchedAgainAfterCacheTimeOrOnTouch)
{
    MountWorld world({.listCacheMs = 5000});
    NodeInfo info;
    ASSERT_EQ(world.mount.getattr("/", info), 0);
    world.phone->addFile({"/a/late.txt", 0, pattern(30)});
    EXPECT_EQ(world.mount.getattr("/a/late.txt", info), -ENOENT);
    EXPECT_EQ(world.mount.touch(kRefreshControlPath), 0);
    EXPECT_EQ(world.mount.getattr("/a/late.txt", info), 0);
    world.phone->addFile({"/a/later.txt", 0, pattern(30)});
    world.clock.advance(5000);
    EXPECT_EQ(world.mount.getattr("/a/later.txt", info), 0);

    SpaceInfo space;
    ASSERT_EQ(world.mount.statfs(space), 0);
    EXPECT_EQ(space.freeBytes, world.phone->freeSpace());
}

TEST(PhoneMount, APhoneGoneGivesEioAtOnceAndComesBack)
{
    MountWorld world;
    NodeInfo info;
    ASSERT_EQ(world.mount.getattr("/", info), 0);
    world.phone->unplug();
    world.clock.advance(60000);
    const uint64_t sleptBefore = world.clock.totalSleptMs();
    std::vector<std::string> names;
    SpaceInfo space;
    EXPECT_EQ(world.mount.getattr("/a", info), -EIO);
    EXPECT_EQ(world.mount.readdir("/", names), -EIO);
    EXPECT_EQ(world.mount.statfs(space), -EIO);
    uint64_t handle = 0;
    EXPECT_EQ(world.mount.create("/a/x.txt", handle), -EIO);
    EXPECT_LT(world.clock.totalSleptMs() - sleptBefore, 1000u);
    EXPECT_EQ(world.mount.lastReason(), "no phone");

    world.phone->plugIn();
    EXPECT_EQ(world.mount.getattr("/a/mobile/audio/Alarm.mid", info), 0);
    EXPECT_EQ(world.readAll("/a/mobile/audio/Alarm.mid"), world.contentOf("/a/mobile/audio/Alarm.mid"));
}

TEST(PhoneMount, AChangeThatCannotBeKeptIsAnError)
{
    int keeps = 0;
    MountWorld world({}, [&] { return ++keeps == 1; });
    EXPECT_EQ(world.mount.unlink("/a/mobile/audio/Alarm.mid"), 0);
    EXPECT_EQ(world.mount.unlink("/a/mobile/audio/Ring01.mid"), -EIO);
    EXPECT_EQ(world.mount.lastReason(), "the change could not be kept");
}

} // namespace
} // namespace p2k::mount
