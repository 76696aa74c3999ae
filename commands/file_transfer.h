#pragma once

#include "core/main_window.h"
#include "core/operator_log.h"
#include "commands/file_dialogs.h"
#include "commands/file_list_control.h"
#include "commands/file_list_view.h"
#include "commands/pc_files.h"
#include "services/phone_file_system.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace p2k {

// The most characters the upload path field (1017) holds.
inline constexpr size_t kUploadPathChars = 127;

// What the file commands work with, all owned by the application.
struct FileCommandContext {
    MainWindow& window;
    FileListControl& list;
    FileDialogs& dialogs;
    PcFiles& pcFiles;
    OperatorLog& log;
    PhoneFileSystem& fileSystem;
    FileListView& listView;
    const int32_t& autoRefresh; // 1: refresh the list after upload, attribute change, delete
};

// Upload, attribute change, download and delete. Each reports in the log
// and leaves no phone file, PC file or buffer open behind it. The result,
// which the window ignores, tells a script whether every file went through.
class FileTransferCommands {
public:
    explicit FileTransferCommands(FileCommandContext context) : c_(context) {}

    // What an upload does when the last list shows its phone name already.
    enum class ExistingName { Ask, Replace, Refuse };
    bool uploadFile(ExistingName existing = ExistingName::Ask);
    bool changeAttributes();
    bool downloadSelectedFiles();
    bool deleteSelectedFiles();

private:
    enum class Next { Continue, EndCommand };
    enum class LoopEnd { NothingSelected, Completed, EndedEarly };
    using FileStep = Next (FileTransferCommands::*)(std::string_view name);

    // Walks the selected rows in list order, logging label and name first.
    LoopEnd forEachSelected(std::string_view label, FileStep step);
    void refreshIfAutomatic();
    BytesDone startProgress(uint32_t bytes);
    uint32_t selectedRowCount();
    bool readPcFile(const DialogChoice& choice, std::vector<uint8_t>& data);
    bool sizeFits(uint64_t size);
    std::string phoneNameFor(const DialogChoice& choice);
    bool phoneNameFits(const std::string& phoneName);
    bool makeRoomFor(const std::string& phoneName, ExistingName existing);
    bool writePhoneFile(const std::string& phoneName, const std::vector<uint8_t>& data);
    void removeLeftoverOfFailedOpen(const std::string& phoneName);
    void discardPartialUpload(const std::string& phoneName);
    Next changeOne(std::string_view name);
    bool allChanged_ = true;
    Next downloadOne(std::string_view name);
    Next deleteOne(std::string_view name);
    int openForDownload(std::string_view name);
    bool readPhoneFile(std::string_view name, std::vector<uint8_t>& data);
    std::optional<std::string> targetPathFor(std::string_view name);
    bool savePcFile(const std::string& path, const std::vector<uint8_t>& data);

    FileCommandContext c_;
    bool firstFileSaved_ = false;
    std::string downloadFolder_;
    // The files of the download in transfer (one for anything else), and
    // which of them is in transfer.
    uint32_t progressFiles_ = 1;
    uint32_t progressFile_ = 0;
    static constexpr uint32_t kProgressPerFile = 1000;
};

// The attribute field's value: an unsigned decimal number, 0 for anything
// else (signs, other characters, more than 32 bits); above 65536 gives 0.
uint32_t attributeFieldValue(std::string_view text);

} // namespace p2k
