#include "app/command_table.h"

#include <algorithm>

namespace p2k {

namespace {

constexpr CommandEntry kCommands[] = {
    {1001, Command::RefreshFileList, true},
    {1002, Command::UploadFile, true},
    {1003, Command::RestartPhone, true},
    {1004, Command::About, false},
    {1005, Command::DownloadSelectedFiles, true},
    {1101, Command::DownloadSelectedFiles, true},
    {1006, Command::DeleteSelectedFiles, true},
    {1102, Command::DeleteSelectedFiles, true},
    {1007, Command::SuspendPhone, true},
    {1011, Command::DownloadSeemRange, true},
    {1012, Command::UploadSeemRecord, true},
    {1016, Command::ChangeAttributes, true},
    {1020, Command::ToggleAutoRefresh, false},
    {1021, Command::UpdateRingtones, true},
};

} // namespace

std::span<const CommandEntry> commandTable()
{
    return kCommands;
}

std::optional<CommandEntry> findCommand(uint32_t commandParam)
{
    const auto* found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                     [&](const CommandEntry& entry) { return entry.id == commandParam; });
    if (found == std::end(kCommands))
        return std::nullopt;
    return *found;
}

bool CommandDispatcher::dispatch(uint32_t commandParam)
{
    const std::optional<CommandEntry> entry = findCommand(commandParam);
    if (!entry)
        return false;
    if (entry->command == Command::ToggleAutoRefresh) {
        // The check box flips its own mark; the flag follows the clicks.
        autoRefresh_ = autoRefresh_ == 1 ? 0 : 1;
        return true;
    }
    // A command still running (in its dialog's or question's message loop)
    // ignores further commands.
    if (running_)
        return true;
    if (entry->needsPhone && link_.connectedFlag() != 1) {
        log_.appendLog("Тело не в коннекте\r\n");
        return true;
    }
    struct Running {
        bool& flag;
        explicit Running(bool& running) : flag(running) { flag = true; }
        ~Running() { flag = false; }
    } running(running_);
    runner_.run(entry->command);
    return true;
}

} // namespace p2k
