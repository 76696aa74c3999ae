#pragma once

#include "app/application.h"
#include "win32/file_dialogs_win32.h"
#include "win32/file_list_win32.h"
#include "core/main_window.h"
#include "app/phone_commands.h"
#include "app/window_logic.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string_view>

namespace p2k {

inline constexpr WORD kMainDialogTemplate = 1;
inline constexpr WORD kPopupMenuResource = 101;
inline constexpr WORD kWindowIconResource = 101;
inline constexpr WORD kSortUpIconResource = 202;
inline constexpr WORD kSortDownIconResource = 203;
inline constexpr WORD kRowIconResource = 204;

// The main window's own messages. (WM_USER and WM_USER+2 are also the
// dialog manager's DM_GETDEFID and DM_REPOSITION; the handlers tell them
// apart by their parameters.)
inline constexpr UINT kTrayCallbackMessage = WM_USER;
inline constexpr UINT kConnectionMessage = WM_USER + 2;
// A log text appended from another thread of this process.
inline constexpr UINT kLogAppendMessage = WM_APP + 1;

// The log pane (control 1000) as the operator log's sink. Every append runs
// on the window's thread: a text from another thread is handed over with one
// synchronous send, so an append and the dropping of old lines never
// interleave with another append.
class LogPaneSink : public LogSink {
public:
    LogPaneSink(const std::atomic<HWND>& dialog, LogPaneLimits limits);

    void append(std::string_view utf8) override;

    // On the window's thread.
    void applyLimit();
    void appendHere(std::string_view utf8);
    // The handler of kLogAppendMessage: takes only the text this sink sent.
    void takeHandedOver(LPARAM text);

private:
    HWND pane() const;
    void dropOldLines(HWND pane, size_t appendLength);

    const std::atomic<HWND>& dialog_;
    const LogPaneLimits limits_;
    std::mutex handOverMutex_;
    std::atomic<const std::string_view*> handedOver_{nullptr};
};

// The program's window: the modal dialog from template 1, its tray icon and
// the list's pop-up menu. One per process.
class Win32MainWindow : public MainWindow {
public:
    Win32MainWindow(HINSTANCE instance, HMENU popupMenu, Application& app, LogPaneLimits logLimits = kLogPaneLimits);
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    // Shows the dialog and returns when it has been closed.
    void run();

    // MainWindow
    LogSink& logPane() override { return logPane_; }
    void setStatusText(std::string_view utf8) override;
    std::string fieldText(int controlId) override;
    void setFieldText(int controlId, std::string_view utf8) override;
    void setProgressRange(uint32_t low, uint32_t high) override;
    void setProgressPosition(uint32_t position) override;
    void showAbout() override;
    bool askYesNo(std::string_view caption, std::string_view question, DefaultButton defaultButton) override;
    void notifyConnection(int32_t connected) override;
    CommandGesture handleMessagesDuringCommand() override;

    // The dialog procedure's handlers, one per message.
    void remember(HWND dialog) { dialog_.store(dialog); }
    INT_PTR initialise();
    INT_PTR onSystemCommand(WPARAM command);
    INT_PTR onTrayEvent(LPARAM mouseMessage);
    INT_PTR onConnection(WPARAM connected);
    INT_PTR onCommand(WPARAM command);
    INT_PTR onNotify(LPARAM header);
    INT_PTR onLogAppend(LPARAM text);
    INT_PTR onTaskbarCreated();

private:
    HWND dialog() const { return dialog_.load(); }
    HWND control(int controlId) const { return GetDlgItem(dialog(), controlId); }

    void setUpTrayRecord();
    void setUpWindowIcon();
    void insertListColumns();
    void setListStyles();
    void setUpImageList();
    void writeSeemRangeFields();
    void startMonitor();

    void hideToTray();
    void restoreFromTray();
    void showListMenu();
    void sortByColumn(int column);

    HINSTANCE instance_;
    HMENU popupMenu_;
    Application& app_;
    std::atomic<HWND> dialog_{nullptr};
    LogPaneSink logPane_;
    Win32FileList fileList_;
    Win32FileDialogs fileDialogs_;
    std::unique_ptr<PcFiles> pcFiles_;
    PhoneCommands phoneCommands_;
    NOTIFYICONDATAW tray_{};
    HIMAGELIST images_ = nullptr;
    bool inTray_ = false;
};

// Explorer's broadcast after a restart: tray icons must be added again.
UINT taskbarCreatedMessage();

} // namespace p2k
