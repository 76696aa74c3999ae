#pragma once

#include "core/main_window.h"
#include "commands/file_dialogs.h"
#include "commands/pc_files.h"

#include <map>
#include <string>
#include <vector>

namespace p2k::mount {

// The window the file commands report to: fields in memory, every question
// answered yes (the file operation itself was the operator's choice).
class MountWindow : public MainWindow {
public:
    explicit MountWindow(LogSink& log) : log_(log) {}

    LogSink& logPane() override { return log_; }
    void setStatusText(std::string_view) override {}
    std::string fieldText(int controlId) override { return fields_[controlId]; }
    void setFieldText(int controlId, std::string_view utf8) override { fields_[controlId] = utf8; }
    void setProgressRange(uint32_t, uint32_t) override {}
    void setProgressPosition(uint32_t) override {}
    void showAbout() override {}
    bool askYesNo(std::string_view, std::string_view, DefaultButton) override { return true; }
    void notifyConnection(int32_t) override {}

private:
    LogSink& log_;
    std::map<int, std::string> fields_;
};

// The open and save dialogs of a transfer: the upload takes the phone name
// whole as its title, the download saves into the transfer buffer.
class TransferDialogs : public FileDialogs {
public:
    std::optional<DialogChoice> showOpen() override { return DialogChoice{"upload", uploadName}; }
    std::optional<DialogChoice> showSave(std::string_view proposedName) override
    {
        return DialogChoice{"download", std::string(proposedName)};
    }

    std::string uploadName; // UTF-8
};

// The PC side of a transfer kept in memory: the upload reads these bytes,
// the download writes them.
class TransferBuffer : public PcFiles {
public:
    std::unique_ptr<PcFile> openExisting(const std::string& path) override;
    std::unique_ptr<PcFile> createNew(const std::string& path) override;
    void removeIncomplete(const std::string&) override { bytes.clear(); }
    void setCurrentDirectory(const std::string&) override {}

    std::vector<uint8_t> bytes;
};

} // namespace p2k::mount
