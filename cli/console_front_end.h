#pragma once

#include "core/main_window.h"
#include "commands/file_dialogs.h"

#include <cstdio>
#include <map>
#include <string>

namespace p2k::cli {

// True when the stream is a terminal.
bool onTerminal(std::FILE* stream);

// Control bytes as \xNN, so that a phone name cannot move a terminal's
// cursor or clear its screen; line feeds stay when keepLineFeeds.
std::string escapeControlBytes(std::string_view text, bool keepLineFeeds);

// A name as one field of a tab-separated line: tab, line feed and backslash
// become \t, \n and \\.
std::string tsvField(std::string_view text);

// The log as it happens, UTF-8, on one of the standard streams; on a
// terminal with its control bytes escaped.
class StreamLog : public LogSink {
public:
    explicit StreamLog(std::FILE* stream) : StreamLog(stream, onTerminal(stream)) {}
    StreamLog(std::FILE* stream, bool escapeControls) : stream_(stream), escapeControls_(escapeControls) {}
    void append(std::string_view utf8) override;
    // Ends the last line if a text left it open.
    void endLine();

private:
    std::FILE* stream_;
    bool escapeControls_;
    bool lineOpen_ = false;
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
    bool askYesNo(std::string_view caption, std::string_view question, DefaultButton defaultButton) override;
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
