#pragma once

#include "core/operator_log.h"
#include "commands/file_list_view.h"
#include "commands/file_transfer.h"
#include "commands/seem_commands.h"
#include "link/clock.h"
#include "link/phone_link.h"
#include "link/test_command_channel.h"
#include "services/phone_file_system.h"
#include "services/seem_access.h"
#include "sim/simulated_phone.h"
#include "sim/simulated_platform.h"
#include "tests/support/fake_list.h"
#include "tests/support/fake_pc.h"
#include "tests/support/fake_window.h"

#include <array>
#include <cstdint>
#include <memory>

namespace p2k::test {

// The program's services and commands over one phone link, with screenless
// fakes for the window, the list, the dialogs and the PC's files. Nothing is
// attached to the link yet: each user chooses what sits between.
struct ProgramWorld {
    explicit ProgramWorld(Clock& clock) : channel{link, log, clock}, seems{{window, dialogs, pc, log, seemAccess, fileSystem, clock}} {}
    ProgramWorld(const ProgramWorld&) = delete;
    ProgramWorld& operator=(const ProgramWorld&) = delete;

    MemoryLogSink sink;
    OperatorLog log{&sink};
    PhoneLink link;
    TestCommandChannel channel;
    PhoneFileSystem fileSystem{channel, log};
    SeemAccess seemAccess{channel};
    FakeList list;
    FakeWindow window;
    FakeDialogs dialogs;
    FakePcFiles pc;
    FileListView view{fileSystem, log, list};
    int32_t autoRefresh = 0;
    FileTransferCommands files{{window, list, dialogs, pc, log, fileSystem, view, autoRefresh}};
    SeemCommands seems;
};

// A simulated phone on a fake clock, built before the program that uses both.
struct SimulatedPhoneOnFakeClock {
    explicit SimulatedPhoneOnFakeClock(sim::PhoneConfig config, uint32_t startMs = 0)
        : clock{startMs}, phone{clock, config} {}

    FakeClock clock;
    sim::SimulatedPhone phone;
};

// A fresh world per test: the program over a simulated phone.
struct PhoneWorld : SimulatedPhoneOnFakeClock, ProgramWorld {
    explicit PhoneWorld(sim::PhoneConfig config = {}) : SimulatedPhoneOnFakeClock{config}, ProgramWorld{clock} {}
};

// A phone plugged in as a modem, waiting for the switch to command mode.
inline sim::PhoneConfig modemPhone()
{
    sim::PhoneConfig config;
    config.startInModemMode = true;
    return config;
}

// A simulated phone on a fake clock and the channel to it; the user makes
// the phone and attaches it.
struct ChannelToPhone {
    FakeClock clock;
    std::unique_ptr<sim::SimulatedPhone> phone;
    MemoryLogSink sink;
    OperatorLog log{&sink};
    PhoneLink link;
    TestCommandChannel channel{link, log, clock};
};

// A simulated phone behind the simulated platform, and the link that takes
// what the platform finds.
struct PlatformWorld : SimulatedPhoneOnFakeClock {
    explicit PlatformWorld(sim::PhoneConfig config = {}, uint32_t startMs = 0)
        : SimulatedPhoneOnFakeClock{config, startMs} {}

    MemoryLogSink sink;
    OperatorLog log{&sink};
    sim::SimulatedPlatform platform{phone, clock, log};
    PhoneLink link;
};

// Sends the restart command over the channel; the phone detaches once the
// answer has been read.
inline int sendRestart(TestCommandChannel& channel)
{
    std::array<uint8_t, 16> answer{};
    uint32_t length = 0;
    return channel.transact(0x22, {}, answer, length);
}

} // namespace p2k::test
