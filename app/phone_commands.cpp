#include "app/phone_commands.h"

namespace p2k {

PhoneCommands::PhoneCommands(TestCommandChannel& channel, OperatorLog& log, Clock& clock, FrontEnd frontEnd)
    : window_(frontEnd.window), fileSystem_(channel, log), seemAccess_(channel),
      listView_(fileSystem_, log, frontEnd.list),
      files_({frontEnd.window, frontEnd.list, frontEnd.dialogs, frontEnd.pcFiles, log, fileSystem_, listView_,
              frontEnd.autoRefresh}),
      seem_({frontEnd.window, frontEnd.dialogs, frontEnd.pcFiles, log, seemAccess_, fileSystem_, clock})
{
}

void PhoneCommands::run(Command command)
{
    switch (command) {
    case Command::RefreshFileList:
        listView_.refreshFileList(window_);
        break;
    case Command::UploadFile:
        files_.uploadFile();
        break;
    case Command::RestartPhone:
        seemAccess_.restartPhone();
        break;
    case Command::About:
        window_.showAbout();
        break;
    case Command::DownloadSelectedFiles:
        files_.downloadSelectedFiles();
        break;
    case Command::DeleteSelectedFiles:
        files_.deleteSelectedFiles();
        break;
    case Command::SuspendPhone:
        seemAccess_.suspendPhone();
        break;
    case Command::DownloadSeemRange:
        seem_.downloadSeemRange();
        break;
    case Command::UploadSeemRecord:
        seem_.uploadSeemRecord();
        break;
    case Command::ChangeAttributes:
        files_.changeAttributes();
        break;
    case Command::ToggleAutoRefresh: // the dispatcher keeps the flag itself
        break;
    case Command::UpdateRingtones:
        seem_.updateRingtones();
        break;
    }
}

} // namespace p2k
