#pragma once

#include "core/operator_log.h"
#include "link/phone_link.h"

#include <cstdint>
#include <optional>
#include <span>

namespace p2k {

// Every operator command the window routes.
enum class Command {
    RefreshFileList,
    UploadFile,
    RestartPhone,
    About,
    DownloadSelectedFiles,
    DeleteSelectedFiles,
    SuspendPhone,
    DownloadSeemRange,
    UploadSeemRecord,
    ChangeAttributes,
    ToggleAutoRefresh,
    UpdateRingtones,
};

struct CommandEntry {
    uint32_t id;     // control or menu identifier
    Command command;
    bool needsPhone; // refused with a log text while no phone is connected
};

// Buttons and pop-up menu items, by identifier.
std::span<const CommandEntry> commandTable();

// The entry whose identifier equals the whole first parameter of the
// command message; notifications (a code in the high word), IDOK and IDCANCEL
// match nothing.
std::optional<CommandEntry> findCommand(uint32_t commandParam);

// What runs a command once the dispatcher has let it through.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    virtual void run(Command command) = 0;
};

// Routes command messages: applies the connection rule and keeps the
// auto-refresh flag, which the transfer commands read. While a command runs
// (a dialog or question of it may run a message loop), further command
// messages are ignored, so commands never nest.
class CommandDispatcher {
public:
    CommandDispatcher(PhoneLink& link, OperatorLog& log, CommandRunner& runner)
        : link_(link), log_(log), runner_(runner) {}

    // True when commandParam names a command (whether it ran or was refused).
    bool dispatch(uint32_t commandParam);

    const int32_t& autoRefreshFlag() const { return autoRefresh_; }
    bool commandRunning() const { return running_; }

private:
    PhoneLink& link_;
    OperatorLog& log_;
    CommandRunner& runner_;
    int32_t autoRefresh_ = 0;
    bool running_ = false;
};

} // namespace p2k
