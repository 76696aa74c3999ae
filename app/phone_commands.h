#pragma once

#include "app/command_table.h"
#include "core/main_window.h"
#include "commands/file_dialogs.h"
#include "commands/file_list_control.h"
#include "commands/file_list_view.h"
#include "commands/file_transfer.h"
#include "commands/pc_files.h"
#include "commands/seem_commands.h"
#include "services/phone_file_system.h"
#include "services/seem_access.h"

namespace p2k {

// What a front end hands the commands: its window and list, its dialogs,
// the PC's files, and the auto-refresh flag.
struct FrontEnd {
    MainWindow& window;
    FileListControl& list;
    FileDialogs& dialogs;
    PcFiles& pcFiles;
    const int32_t& autoRefresh;
};

// The phone's services and every operator command over one channel, built
// once for a front end. The window routes command identifiers here through
// run(); the command-line tool calls the commands directly for their results.
class PhoneCommands : public CommandRunner {
public:
    PhoneCommands(TestCommandChannel& channel, OperatorLog& log, Clock& clock, FrontEnd frontEnd);

    void run(Command command) override;

    PhoneFileSystem& fileSystem() { return fileSystem_; }
    SeemAccess& seemAccess() { return seemAccess_; }
    FileListView& listView() { return listView_; }
    FileTransferCommands& files() { return files_; }
    SeemCommands& seem() { return seem_; }

private:
    MainWindow& window_;
    PhoneFileSystem fileSystem_;
    SeemAccess seemAccess_;
    FileListView listView_;
    FileTransferCommands files_;
    SeemCommands seem_;
};

} // namespace p2k
