// Benchmarks: how fast the host side is, and how close the transfers come to
// the time the protocol itself needs. Run: build/native/tests/bench/p2kfm-bench

#include "app/command_pump.h"
#include "mount/phone_mount.h"
#include "sim/demo_phone.h"
#include "tests/support/phone_world.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>

namespace p2k {
namespace {

// Per request the protocol needs a write, a status poll and a data read
// (each a modelled transfer) and the 1 ms pause before the data read.
constexpr double kTransfersPerRequest = 3;
constexpr double kMandatedSleepMs = 1;

// A phone, the program's services and commands over it, and screenless fakes.
struct World : test::ProgramWorld {
    World(Clock& clock, std::unique_ptr<sim::SimulatedPhone> phoneIn) : ProgramWorld(clock), phone(std::move(phoneIn))
    {
        link.attach(phone->open());
        link.setConnectedFlag(1);
    }

    std::unique_ptr<sim::SimulatedPhone> phone;
};

// Fetch, decode and fill the list model for the largest list a phone can
// announce. The fake clock leaves out the protocol's 1 ms pauses (one per
// request, 4370 requests here), so this is the host's own time.
void listOfLargestPhone(benchmark::State& state)
{
    FakeClock clock;
    sim::PhoneConfig config;
    config.entriesPerChunk = 15;
    auto phone = std::make_unique<sim::SimulatedPhone>(clock, config);
    char name[32];
    for (int i = 0; i < 65534; ++i) {
        std::snprintf(name, sizeof name, "/a/mobile/file%05d.bin", i);
        phone->addFile({name, static_cast<uint32_t>(i), {}});
    }
    World world(clock, std::move(phone));
    for (auto _ : state) {
        world.view.refreshFileList(world.window);
        benchmark::DoNotOptimize(world.list.rows.size());
    }
    if (world.list.rows.size() != 65534)
        state.SkipWithError("the list is incomplete");
    state.counters["rows"] = static_cast<double>(world.list.rows.size());
}
BENCHMARK(listOfLargestPhone)->Unit(benchmark::kMillisecond)->Iterations(3);

// Runs one command against a phone with 1 ms per transfer and a 1 ms answer
// delay on the real clock, and reports the protocol's lower bound against
// the measured time.
template <class PhoneWorld, class Command>
void timedCommand(benchmark::State& state, PhoneWorld& world, Command command, double bytes)
{
    // The window's pump sits between the requests, as in the program; the
    // mount has no window.
    std::atomic<bool> interrupt{false};
    CommandPump pump(systemClock(), interrupt);
    MainWindow* window = nullptr;
    if constexpr (requires { world.window; }) {
        window = &world.window;
        world.channel.setRequestGate(&pump);
        world.channel.setInterruptFlag(&interrupt);
    }
    for (auto _ : state) {
        pump.begin(window);
        const uint64_t before = world.phone->transferCount();
        const uint64_t requestsBefore = world.phone->requestCount();
        const auto start = std::chrono::steady_clock::now();
        command();
        pump.end();
        const double elapsedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const uint64_t transfers = world.phone->transferCount() - before;
        const double requests = static_cast<double>(world.phone->requestCount() - requestsBefore);
        const double lowerBoundMs = requests * (kTransfersPerRequest * 1.0 + kMandatedSleepMs);
        state.counters["requests"] = requests;
        state.counters["extra_transfers"] = static_cast<double>(transfers) - requests * kTransfersPerRequest;
        state.counters["bound_ratio"] = lowerBoundMs / elapsedMs;
        if (bytes > 0)
            state.counters["KB_per_s"] = bytes / 1024.0 / (elapsedMs / 1000.0);
    }
}

std::vector<uint8_t> mebibyte()
{
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 1000);
    return data;
}

void uploadMebibyte(benchmark::State& state)
{
    World world(systemClock(), sim::makeDemoPhone(systemClock(), 1, 1));
    world.view.refreshFileList(world.window);
    world.pc.files["C:/big.bin"] = {mebibyte(), false};
    world.window.fields[control::kUploadPath] = "/a/";
    int run = 0;
    timedCommand(state, world, [&] {
        world.dialogs.answers.push_back(DialogChoice{"C:/big.bin", "big" + std::to_string(run++) + ".bin"});
        world.files.uploadFile();
    }, 1 << 20);
    if (world.sink.text().find(" ok\r\n") == std::string::npos)
        state.SkipWithError("the upload failed");
}
BENCHMARK(uploadMebibyte)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void downloadMebibyte(benchmark::State& state)
{
    World world(systemClock(), sim::makeDemoPhone(systemClock(), 1, 1));
    world.phone->addFile({"/a/big.bin", 0, mebibyte()});
    world.view.refreshFileList(world.window);
    world.list.selectNamed({"/a/big.bin"});
    int run = 0;
    timedCommand(state, world, [&] {
        world.dialogs.answers.push_back(DialogChoice{"D:/big" + std::to_string(run++) + ".bin", "big.bin"});
        world.files.downloadSelectedFiles();
    }, 1 << 20);
    if (world.pc.files.empty() || world.pc.files.begin()->second.bytes != mebibyte())
        state.SkipWithError("the download failed");
}
BENCHMARK(downloadMebibyte)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The same mebibyte copied into and out of the mount as cp does, in 128 KiB
// calls: its KB_per_s against uploadMebibyte's and downloadMebibyte's.
// The channel paces itself on the real clock, as the commands' does, so that
// the two compare.
struct MountedDemoPhone {
    std::unique_ptr<sim::SimulatedPhone> phone = sim::makeDemoPhone(systemClock(), 1, 1);
    MemoryLogSink sink;
    OperatorLog log{&sink};
    PhoneLink link;
    TestCommandChannel channel{link, log, systemClock()};
    mount::PhoneMount mount{link, channel, log, sink, systemClock(), {}, [this] { return phone->open(); }, {}};
};

constexpr size_t kCopyCall = 128 * 1024;

void mountCopyInMebibyte(benchmark::State& state)
{
    MountedDemoPhone world;
    const std::vector<uint8_t> data = mebibyte();
    mount::NodeInfo info;
    world.mount.getattr("/", info);
    int run = 0;
    timedCommand(state, world, [&] {
        uint64_t handle = 0;
        world.mount.create("/a/big" + std::to_string(run++) + ".bin", handle);
        for (size_t offset = 0; offset < data.size(); offset += kCopyCall)
            world.mount.write(handle, offset, std::span(data).subspan(offset, kCopyCall));
        if (world.mount.release(handle) != 0)
            state.SkipWithError("the copy failed");
    }, 1 << 20);
}
BENCHMARK(mountCopyInMebibyte)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void mountCopyOutMebibyte(benchmark::State& state)
{
    MountedDemoPhone world;
    world.phone->addFile({"/a/big.bin", 0, mebibyte()});
    mount::NodeInfo info;
    world.mount.getattr("/", info);
    std::vector<uint8_t> copy;
    timedCommand(state, world, [&] {
        uint64_t handle = 0;
        copy.clear();
        world.mount.open("/a/big.bin", false, handle);
        std::vector<uint8_t> part;
        for (size_t offset = 0; world.mount.read(handle, offset, kCopyCall, part) == 0 && !part.empty();
             offset += part.size())
            copy.insert(copy.end(), part.begin(), part.end());
        world.mount.release(handle);
    }, 1 << 20);
    if (copy != mebibyte())
        state.SkipWithError("the copy failed");
}
BENCHMARK(mountCopyOutMebibyte)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void seemRangeDownload(benchmark::State& state)
{
    World world(systemClock(), sim::makeDemoPhone(systemClock(), 1, 1));
    world.window.fields[control::kSeemRangeStart] = "0000";
    world.window.fields[control::kSeemRangeEnd] = "0300";
    timedCommand(state, world, [&] {
        world.pc.files.clear();
        world.dialogs.answers.push_back(DialogChoice{"D:/seem/x.seem", "x.seem"});
        world.seems.downloadSeemRange();
    }, 0);
    state.counters["files"] = static_cast<double>(world.pc.files.size());
}
BENCHMARK(seemRangeDownload)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace
} // namespace p2k

BENCHMARK_MAIN();
