#pragma once

#include "core/operator_log.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace p2k {

// Controls of the main window, by the identifiers of dialog template 1.
namespace control {
inline constexpr int kLogPane = 1000;
inline constexpr int kListButton = 1001;
inline constexpr int kUploadButton = 1002;
inline constexpr int kRestartButton = 1003;
inline constexpr int kAboutButton = 1004;
inline constexpr int kDownloadButton = 1005;
inline constexpr int kDeleteButton = 1006;
inline constexpr int kSuspendButton = 1007;
inline constexpr int kFileList = 1008;
inline constexpr int kSeemRangeStart = 1009;
inline constexpr int kSeemRangeEnd = 1010;
inline constexpr int kDownloadSeemButton = 1011;
inline constexpr int kUploadSeemButton = 1012;
inline constexpr int kSeemNumber = 1013;
inline constexpr int kSeemRecord = 1014;
inline constexpr int kAttributes = 1015;
inline constexpr int kChangeAttributesButton = 1016;
inline constexpr int kUploadPath = 1017;
inline constexpr int kProgressBar = 1018;
inline constexpr int kStatusText = 1019;
inline constexpr int kAutoRefreshCheckBox = 1020;
inline constexpr int kUpdateRingtonesButton = 1021;
} // namespace control

// What the operator asked for while a command ran.
enum class CommandGesture {
    None,
    Cancel, // Esc: stop the command
    Close,  // the close box: stop the command, then close the window
};

// What the commands and the connection monitor need of the program's window.
// The Win32 dialog implements it with its controls; tests and the command
// line use stand-ins. Every member but logPane().append and
// notifyConnection runs on the window's thread.
class MainWindow {
public:
    virtual ~MainWindow() = default;

    // The log pane; the operator log writes here (from either thread).
    virtual LogSink& logPane() = 0;

    // Status text 1019.
    virtual void setStatusText(std::string_view utf8) = 0;

    // Text of an edit field, by control identifier.
    virtual std::string fieldText(int controlId) = 0;
    virtual void setFieldText(int controlId, std::string_view utf8) = 0;

    // Progress bar 1018.
    virtual void setProgressRange(uint32_t low, uint32_t high) = 0;
    virtual void setProgressPosition(uint32_t position) = 0;

    // The About box; returns when the operator has closed it.
    virtual void showAbout() = 0;

    // A question with Yes and No, owned by the window; true for Yes. Enter
    // takes the default button.
    enum class DefaultButton { Yes, No };
    virtual bool askYesNo(std::string_view caption, std::string_view question, DefaultButton defaultButton) = 0;

    // While a command runs: handles the window's waiting paint, timer and
    // sent messages and drops the operator's input, but for the cancel
    // gestures, which it returns. A front end without a message queue has
    // nothing to handle.
    virtual CommandGesture handleMessagesDuringCommand() { return CommandGesture::None; }

    // Called on the connection monitor's thread: 1 connected, 0
    // disconnected. Returns once the window has shown the new state.
    virtual void notifyConnection(int32_t connected) = 0;
};

} // namespace p2k
