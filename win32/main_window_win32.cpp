#include "win32/main_window_win32.h"

#include "commands/pc_files_win32.h"
#include "core/text_win32.h"
#include "commands/seem_commands.h"

#include <algorithm>
#include <string>

namespace p2k {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the pane's text is UTF-16");

constexpr UINT kTrayIconId = 1;
constexpr int kListIconSize = 16;

struct ListColumn {
    const wchar_t* title;
    int width;
};

constexpr ListColumn kListColumns[] = {{L"File", 224}, {L"Flags", 90}, {L"Size", 90}};
constexpr DWORD kListExtendedStyles = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
constexpr WORD kListIcons[] = {kSortUpIconResource, kSortDownIconResource, kRowIconResource};

// The one window; the dialog is started with initialisation parameter 0, so
// its procedure finds the object here.
Win32MainWindow* theWindow = nullptr;

std::wstring windowText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

bool isKeyboardOrMouse(UINT message)
{
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST)
           || (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

// The operator's input while a command runs: Esc and the close box stop it,
// everything else is dropped so that no click turns into a new command.
CommandGesture gestureOf(const MSG& message)
{
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE)
        return CommandGesture::Cancel;
    if (message.message == WM_NCLBUTTONDOWN && message.wParam == HTCLOSE)
        return CommandGesture::Close;
    return CommandGesture::None;
}

// Column widths are given for 96 dots per inch.
int scaledForDpi(HWND window, int pixels)
{
    const HDC screen = GetDC(window);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : USER_DEFAULT_SCREEN_DPI;
    if (screen != nullptr)
        ReleaseDC(window, screen);
    return MulDiv(pixels, dpi, USER_DEFAULT_SCREEN_DPI);
}

bool onThreadOf(HWND window)
{
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    Win32MainWindow& window = *theWindow;
    window.remember(dialog);
    switch (message) {
    case WM_INITDIALOG:
        return window.initialise();
    case WM_SYSCOMMAND:
        return window.onSystemCommand(wParam);
    case kTrayCallbackMessage:
        return window.onTrayEvent(lParam);
    case kConnectionMessage:
        return window.onConnection(wParam);
    case WM_COMMAND:
        return window.onCommand(wParam);
    case WM_NOTIFY:
        return window.onNotify(lParam);
    case kLogAppendMessage:
        return window.onLogAppend(lParam);
    default:
        if (message == taskbarCreatedMessage())
            return window.onTaskbarCreated();
        return FALSE;
    }
}

} // namespace

// ---- log pane

LogPaneSink::LogPaneSink(const std::atomic<HWND>& dialog, LogPaneLimits limits) : dialog_(dialog), limits_(limits)
{
}

HWND LogPaneSink::pane() const
{
    return GetDlgItem(dialog_.load(), control::kLogPane);
}

void LogPaneSink::append(std::string_view utf8)
{
    const HWND dialog = dialog_.load();
    if (dialog == nullptr)
        return;
    if (onThreadOf(dialog)) {
        appendHere(utf8);
        return;
    }
    // The window's thread never takes this lock, so waiting for it here
    // cannot block the send below.
    std::lock_guard lock(handOverMutex_);
    handedOver_.store(&utf8);
    SendMessageW(dialog, kLogAppendMessage, 0, reinterpret_cast<LPARAM>(&utf8));
    handedOver_.store(nullptr);
}

void LogPaneSink::takeHandedOver(LPARAM text)
{
    const std::string_view* utf8 = handedOver_.load();
    if (utf8 != nullptr && reinterpret_cast<LPARAM>(utf8) == text)
        appendHere(*utf8);
}

void LogPaneSink::applyLimit()
{
    SendMessageW(pane(), EM_SETLIMITTEXT, limits_.paneLimit, 0);
}

void LogPaneSink::appendHere(std::string_view utf8)
{
    const HWND pane = this->pane();
    if (pane == nullptr)
        return;
    const std::wstring text = widen(utf8);
    if (logNeedsTrim(static_cast<size_t>(GetWindowTextLengthW(pane)), text.size(), limits_))
        dropOldLines(pane, text.size());
    SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void LogPaneSink::dropOldLines(HWND pane, size_t appendLength)
{
    const std::wstring text = windowText(pane);
    const std::u16string_view units(reinterpret_cast<const char16_t*>(text.data()), text.size());
    const size_t cut = logTrimLength(units, appendLength, limits_);
    if (cut == 0)
        return;
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(pane, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    SendMessageW(pane, EM_SETSEL, 0, static_cast<LPARAM>(cut));
    SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    const LogSelection kept = selectionAfterTrim({start, end}, cut);
    SendMessageW(pane, EM_SETSEL, kept.start, static_cast<LPARAM>(kept.end));
}

// ---- the window

Win32MainWindow::Win32MainWindow(HINSTANCE instance, HMENU popupMenu, Application& app, LogPaneLimits logLimits)
    : instance_(instance), popupMenu_(popupMenu), app_(app), logPane_(dialog_, logLimits),
      fileList_([this] { return control(control::kFileList); }), fileDialogs_([this] { return dialog(); }),
      pcFiles_(makeWin32PcFiles()),
      phoneCommands_(app.channel(), app.log(), app.clock(),
                     {*this, fileList_, fileDialogs_, *pcFiles_, app.dispatcher().autoRefreshFlag()})
{
}

void Win32MainWindow::run()
{
    theWindow = this;
    DialogBoxParamW(instance_, MAKEINTRESOURCEW(kMainDialogTemplate), nullptr, mainDialogProc, 0);
}

INT_PTR Win32MainWindow::initialise()
{
    setUpTrayRecord();
    setUpWindowIcon();
    insertListColumns();
    setListStyles();
    setUpImageList();
    writeSeemRangeFields();
    startMonitor();
    return TRUE;
}

void Win32MainWindow::setUpTrayRecord()
{
    tray_.cbSize = NOTIFYICONDATAW_V1_SIZE;
    tray_.hWnd = dialog();
    tray_.uID = kTrayIconId;
    tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray_.uCallbackMessage = kTrayCallbackMessage;
    const std::wstring tip = widen(trayTip());
    tip.copy(tray_.szTip, std::size(tray_.szTip) - 1);
}

void Win32MainWindow::setUpWindowIcon()
{
    const HICON icon = LoadIconW(instance_, MAKEINTRESOURCEW(kWindowIconResource));
    tray_.hIcon = icon;
    SendMessageW(dialog(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void Win32MainWindow::insertListColumns()
{
    int position = 0;
    for (const ListColumn& column : kListColumns) {
        LVCOLUMNW record{};
        record.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        record.fmt = LVCFMT_LEFT;
        record.cx = scaledForDpi(dialog(), column.width);
        record.pszText = const_cast<wchar_t*>(column.title);
        record.iSubItem = position;
        SendDlgItemMessageW(dialog(), control::kFileList, LVM_INSERTCOLUMNW, static_cast<WPARAM>(position),
                            reinterpret_cast<LPARAM>(&record));
        ++position;
    }
}

void Win32MainWindow::setListStyles()
{
    SendDlgItemMessageW(dialog(), control::kFileList, LVM_SETEXTENDEDLISTVIEWSTYLE, kListExtendedStyles,
                        kListExtendedStyles);
}

void Win32MainWindow::setUpImageList()
{
    images_ = ImageList_Create(kListIconSize, kListIconSize, ILC_COLORDDB, 3, 0);
    ImageList_SetBkColor(images_, GetSysColor(COLOR_BTNFACE));
    for (const WORD resource : kListIcons) {
        const auto icon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(resource), IMAGE_ICON,
                                                        kListIconSize, kListIconSize, LR_LOADMAP3DCOLORS));
        ImageList_ReplaceIcon(images_, -1, icon);
    }
    SendDlgItemMessageW(dialog(), control::kFileList, LVM_SETIMAGELIST, LVSIL_SMALL,
                        reinterpret_cast<LPARAM>(images_));
    ImageList_SetBkColor(images_, RGB(0xFF, 0xFF, 0xFF));
}

void Win32MainWindow::writeSeemRangeFields()
{
    setFieldText(control::kSeemRangeStart, hex4(kInitialSeemRangeStart));
    setFieldText(control::kSeemRangeEnd, hex4(kInitialSeemRangeEnd));
}

void Win32MainWindow::startMonitor()
{
    logPane_.applyLimit();
    app_.attachWindow(*this);
    app_.attachCommands(phoneCommands_);
    app_.startMonitor();
}

// ---- messages

INT_PTR Win32MainWindow::onSystemCommand(WPARAM command)
{
    // The whole parameter counts: a request with extra low bits gets the
    // default handling.
    if (command == SC_CLOSE) {
        // A running command is stopped first; the window closes once it has returned.
        if (app_.dispatcher().commandRunning())
            app_.pump().requestClose();
        else
            EndDialog(dialog(), 0);
        return TRUE;
    }
    if (command == SC_MINIMIZE) {
        hideToTray();
        return TRUE;
    }
    return FALSE;
}

INT_PTR Win32MainWindow::onTrayEvent(LPARAM mouseMessage)
{
    if (mouseMessage == WM_LBUTTONUP)
        restoreFromTray();
    return TRUE;
}

INT_PTR Win32MainWindow::onConnection(WPARAM connected)
{
    if (const auto text = connectionStatusText(connected))
        setStatusText(*text);
    return TRUE;
}

INT_PTR Win32MainWindow::onCommand(WPARAM command)
{
    if (command <= 0xFFFFFFFFu)
        app_.dispatcher().dispatch(static_cast<uint32_t>(command));
    if (!app_.dispatcher().commandRunning() && app_.pump().takeCloseRequest())
        EndDialog(dialog(), 0);
    return TRUE;
}

INT_PTR Win32MainWindow::onNotify(LPARAM header)
{
    const auto* notification = reinterpret_cast<const NMHDR*>(header);
    if (notification->code == static_cast<UINT>(NM_RCLICK))
        showListMenu();
    else if (notification->code == static_cast<UINT>(LVN_COLUMNCLICK))
        sortByColumn(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
    return TRUE;
}

INT_PTR Win32MainWindow::onLogAppend(LPARAM text)
{
    logPane_.takeHandedOver(text);
    return TRUE;
}

INT_PTR Win32MainWindow::onTaskbarCreated()
{
    if (inTray_)
        Shell_NotifyIconW(NIM_ADD, &tray_);
    return TRUE;
}

void Win32MainWindow::hideToTray()
{
    ShowWindow(dialog(), SW_HIDE);
    Shell_NotifyIconW(NIM_ADD, &tray_);
    inTray_ = true;
}

void Win32MainWindow::restoreFromTray()
{
    ShowWindow(dialog(), SW_SHOWNORMAL);
    Shell_NotifyIconW(NIM_DELETE, &tray_);
    inTray_ = false;
}

void Win32MainWindow::showListMenu()
{
    POINT cursor{};
    GetCursorPos(&cursor);
    const HMENU menu = GetSubMenu(popupMenu_, 0);
    SetForegroundWindow(dialog());
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, dialog(), nullptr);
    PostMessageW(dialog(), WM_NULL, 0, 0);
}

void Win32MainWindow::sortByColumn(int column)
{
    phoneCommands_.listView().sortByColumn(column);
}

// ---- what commands use

void Win32MainWindow::setStatusText(std::string_view utf8)
{
    setFieldText(control::kStatusText, utf8);
}

std::string Win32MainWindow::fieldText(int controlId)
{
    return narrow(windowText(control(controlId)));
}

void Win32MainWindow::setFieldText(int controlId, std::string_view utf8)
{
    SetDlgItemTextW(dialog(), controlId, widen(utf8).c_str());
}

void Win32MainWindow::setProgressRange(uint32_t low, uint32_t high)
{
    SendDlgItemMessageW(dialog(), control::kProgressBar, PBM_SETRANGE32, low, static_cast<LPARAM>(high));
}

void Win32MainWindow::setProgressPosition(uint32_t position)
{
    SendDlgItemMessageW(dialog(), control::kProgressBar, PBM_SETPOS, position, 0);
}

void Win32MainWindow::showAbout()
{
    MessageBoxW(dialog(), widen(aboutText()).c_str(), widen(aboutCaption()).c_str(), MB_OK);
}

bool Win32MainWindow::askYesNo(std::string_view caption, std::string_view question, DefaultButton defaultButton)
{
    const UINT style = MB_YESNO | (defaultButton == DefaultButton::No ? MB_DEFBUTTON2 : 0);
    return MessageBoxW(dialog(), widen(question).c_str(), widen(caption).c_str(), style) == IDYES;
}

void Win32MainWindow::notifyConnection(int32_t connected)
{
    SendMessageW(dialog(), kConnectionMessage, static_cast<WPARAM>(connected), 0);
}

CommandGesture Win32MainWindow::handleMessagesDuringCommand()
{
    // PeekMessage itself handles the messages other threads send, such as
    // the monitor's notifications and log appends.
    CommandGesture gesture = CommandGesture::None;
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Leave it for the dialog's own loop, and stop the command.
            PostQuitMessage(static_cast<int>(message.wParam));
            return CommandGesture::Close;
        }
        if (isKeyboardOrMouse(message.message)) {
            gesture = std::max(gesture, gestureOf(message)); // a close outranks a cancel
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return gesture;
}

UINT taskbarCreatedMessage()
{
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

} // namespace p2k
