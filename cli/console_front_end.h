#pragma once

#include "app/main_window.h"
#include "commands/file_dialogs.h"

#include <cstdio>
#include <map>
#include <string>

namespace p2k::cli {

// The log as it happens, UTF-8, on one of the standard streams.
class StreamLog : public LogSink {
public:
    explicit StreamLog(std::FILE* stream) : stream_(stream) {}
    void append(std::string_view utf8) override;

private:
    std::FILE* stream_;
};

// The window without a screen: fields in memory, a progress bar on a
// terminal, questions on standard input unless answered in advance.
class ConsoleWindow : public MainWindow {
public:
    ConsoleWindow(LogSink& log, bool assumeYes) : log_(log), assumeYes_(assumeYes) {}

    LogSink& logPane() override { return log_; }
    void setStatusText(std::string_view) override {}
    std::string fieldText(int controlId) override { return fields_[controlId]; }
    void setFieldText(int controlId, std::string_view utf8) override { fields_[controlId] = utf8; }
    void setProgressRange(uint32_t low, uint32_t high) override;
    void setProgressPosition(uint32_t position) override;
    void showAbout() override;
    bool askYesNo(std::string_view caption, std::string_view question) override;
    void notifyConnection(int32_t) override {}

    // Ends a progress bar line, if one is shown.
    void finishProgress();

private:
    LogSink& log_;
    bool assumeYes_;
    std::map<int, std::string> fields_;
    uint32_t low_ = 0;
    uint32_t high_ = 0;
    bool barShown_ = false;
};

// One status line while the tool waits for the phone, on a terminal only.
class WaitStatus {
public:
    void show(uint32_t leftMs);
    // Clears the line, if one is shown.
    void end();

private:
    bool shown_ = false;
};

// Dialogs answered by the command line: the open dialog picks the file
// given, the save dialog puts the proposed name into the folder given.
class ArgumentDialogs : public FileDialogs {
public:
    std::optional<DialogChoice> showOpen() override;
    std::optional<DialogChoice> showSave(std::string_view proposedName) override;

    std::string openPath;
    std::string saveFolder;
};

} // namespace p2k::cli
