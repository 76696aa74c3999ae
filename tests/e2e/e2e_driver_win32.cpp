// p2kfm-e2e.exe DEMO_EXE SHOT_DIR
// p2kfm-e2e.exe --driver-build P2KFM_EXE SHOT_DIR
//
// Starts p2kfm-demo.exe with its phone held back, works its window from this
// second process as an operator would (clicks, keys, system commands, the
// tray callback, a right click on the list), lets the phone attach, closes
// the window, and prints one line per check: "ok   NAME" or "FAIL NAME: why".
// With --driver-build it starts p2kfm.exe, which finds no phone under Wine,
// and checks that the window comes up without contact and closes. Exits 1
// when a check failed.
//
// Screenshots are taken by scripts/e2e.sh: for NAME this program writes
// SHOT_DIR\NAME.request holding the screen rectangle "left top width height"
// and waits for SHOT_DIR\NAME.done.

#include "app/demo_options.h"
#include "core/text_win32.h"
#include "app/window_logic.h"
#include "link/clock.h"
#include "sim/demo_phone.h"
#include "tests/e2e/window_probe_win32.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace p2k;
using namespace p2k::e2e;

constexpr std::wstring_view kRefusal = L"Тело не в коннекте\r\n";
constexpr size_t kLogLimit = 4096; // the demo's --log-limit
// The whole session runs against a demo phone whose command interface is not
// the usual 8, as on later phones: every request must name it.
constexpr int kCommandInterface = 11;
constexpr DWORD kStartTimeoutMs = 60000;
constexpr DWORD kAttachTimeoutMs = 15000;
constexpr DWORD kUiTimeoutMs = 10000;
constexpr UINT kTrayCallback = WM_USER;
constexpr int kUnaddressed = 0xFFFF;

struct ExpectedControl {
    int id;
    const wchar_t* className;
    const wchar_t* caption;
    bool tabStop;
};

// Dialog template 1 in template order, captions as the window starts.
constexpr ExpectedControl kTemplate[] = {
    {1008, L"SysListView32", L"", false},
    {1001, L"Button", L"СПИСОК", true},
    {1004, L"Button", L"About", true},
    {1002, L"Button", L"Закачать", true},
    {1003, L"Button", L"Рестарт", true},
    {1006, L"Button", L"Удалить", true},
    {1011, L"Button", L"Скачать SEEM", true},
    {1007, L"Button", L"Спячка", true},
    {1005, L"Button", L"Скачать", true},
    {1000, L"Edit", L"", true},
    {1010, L"Edit", L"0300", true},
    {1009, L"Edit", L"0000", true},
    {kUnaddressed, L"Static", L"От", false},
    {kUnaddressed, L"Static", L"До", false},
    {kUnaddressed, L"Button", L"Seem", false},
    {1012, L"Button", L"Закачать SEEM", true},
    {1014, L"Edit", L"", true},
    {1013, L"Edit", L"", true},
    {kUnaddressed, L"Static", L"Seem", false},
    {kUnaddressed, L"Static", L"rec", false},
    {kUnaddressed, L"Button", L"Труба", false},
    {kUnaddressed, L"Button", L"ФАЙЛЫ", false},
    {1015, L"Edit", L"", true},
    {1016, L"Button", L"Сменить атрибут", true},
    {kUnaddressed, L"Button", L"Атрибуты", false},
    {1017, L"Edit", L"", true},
    {kUnaddressed, L"Static", L"путь закачки:", false},
    {1018, L"msctls_progress32", L"", false},
    {kUnaddressed, L"Static", L"Статус:", false},
    {1019, L"Static", L"нет контакта!", false},
    {kUnaddressed, L"Button", L"", false},
    {1020, L"Button", L"Авто рефреш", true},
    {kUnaddressed, L"Static", L"списка файлов", false},
    {1021, L"Button", L"Обновить рингтоны", true},
};

constexpr int kPhoneButtons[] = {1001, 1002, 1003, 1005, 1006, 1007, 1011, 1012, 1016, 1021};
constexpr int kPhoneMenuItems[] = {1101, 1102};

void print(std::string_view line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string show(std::wstring_view text)
{
    std::string shown;
    for (char c : narrow(text)) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else
            shown += c;
    }
    return "\"" + shown + "\"";
}

class Checks {
public:
    bool check(bool ok, const std::string& name, const std::string& why = {})
    {
        print((ok ? "ok   " : "FAIL ") + name + (ok || why.empty() ? "" : ": " + why));
        if (!ok)
            ++failed_;
        return ok;
    }
    int failed() const { return failed_; }

private:
    int failed_ = 0;
};

// p2kfm-demo.exe or p2kfm.exe, ended by force if a check leaves it running.
class ProgramUnderTest {
public:
    bool start(const std::wstring& exe, const std::wstring& arguments)
    {
        std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info_) != 0;
    }
    ~ProgramUnderTest()
    {
        if (info_.hProcess == nullptr)
            return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(info_.hProcess, 99);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    HANDLE handle() const { return info_.hProcess; }
    DWORD id() const { return info_.dwProcessId; }

private:
    PROCESS_INFORMATION info_{};
};

class Session {
public:
    Session(Checks& checks, ProgramUnderTest& program, std::wstring shotDir)
        : checks_(checks), program_(program), shotDir_(std::move(shotDir))
    {
    }

    bool findWindow()
    {
        const bool found = waitUntil([&] { return (main_ = findProcessWindow(program_.id(), L"#32770", L"p2kfm")); },
                                     kStartTimeoutMs);
        return checks_.check(found, "the window p2kfm appears", "no visible dialog captioned p2kfm");
    }

    void run()
    {
        // With a Cyrillic ANSI code page a narrow-text slip would go unseen.
        checks_.check(GetACP() != 1251 && GetACP() != CP_UTF8, "the ANSI code page cannot carry Russian",
                      std::to_string(GetACP()));
        checkTemplate();
        checkStartState();
        checkList();
        checkRefusals();
        checkAbout();
        checkCheckBox();
        checkEnterAndEscape();
        checkNotificationCodes();
        checkSystemCommands();
        checkTray();
        checkPopupMenu();
        checkLogTrimming();
        attachPhone();
        checkCloseBoxDuringCommand();
    }

    // p2kfm.exe: no phone, no driver under Wine; the window must come up,
    // stay without contact and close.
    void runDriverBuild()
    {
        checkTemplate();
        Sleep(2500); // two passes of the monitor's search
        checks_.check(textOf(control(1019)) == L"нет контакта!", "without a phone the status stays \"нет контакта!\"",
                      show(textOf(control(1019))));
        checks_.check(log().empty(), "a search that finds nothing logs nothing", show(log()));
        checks_.check(logAfterClick(1001) == kRefusal, "the list command refuses without a phone");
        checkClose();
    }

private:
    HWND control(int id) const { return GetDlgItem(main_, id); }
    std::wstring log() const { return textOf(control(1000)); }
    bool shown() const { return IsWindowVisible(main_) && !IsIconic(main_); }

    // Posted messages are handled in order: once a posted click on a phone
    // button has logged its refusal, everything posted before it is done.
    bool drainPosted()
    {
        const std::wstring before = log();
        PostMessageW(control(1001), BM_CLICK, 0, 0);
        return waitUntil([&] { return log().size() >= before.size() + kRefusal.size(); }, kUiTimeoutMs);
    }

    std::wstring logAfterClick(int id)
    {
        send(control(id), BM_CLICK);
        return log();
    }

    void checkTemplate()
    {
        const std::vector<HWND> children = childrenInOrder(main_);
        checks_.check(children.size() == std::size(kTemplate), "the dialog has the template's 34 controls",
                      std::to_string(children.size()) + " controls");
        std::string wrong;
        for (size_t i = 0; i < children.size() && i < std::size(kTemplate); ++i) {
            const ExpectedControl& expected = kTemplate[i];
            const HWND child = children[i];
            const bool tabStop = (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0;
            if ((GetDlgCtrlID(child) & 0xFFFF) != expected.id || classOf(child) != expected.className ||
                textOf(child) != expected.caption || tabStop != expected.tabStop)
                wrong += " #" + std::to_string(i) + " " + std::to_string(GetDlgCtrlID(child)) + " " +
                         narrow(classOf(child)) + " " + show(textOf(child)) + (tabStop ? " tab" : "");
        }
        checks_.check(wrong.empty(), "controls in template order with their classes, captions and tab stops",
                      wrong);
    }

    void checkStartState()
    {
        const LONG style = GetWindowLongW(main_, GWL_STYLE);
        constexpr LONG kFrame = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        checks_.check((style & kFrame) == kFrame && (style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0,
                      "the window has a caption, a system menu and a minimise box only");
        checks_.check(textOf(control(1019)) == L"нет контакта!", "status reads \"нет контакта!\" before the phone",
                      show(textOf(control(1019))));
        checks_.check(log().empty(), "the log pane starts empty", show(log()));
        checks_.check(send(control(1020), BM_GETCHECK) == BST_UNCHECKED, "the auto-refresh box starts unmarked");
        const LONG paneStyle = GetWindowLongW(control(1000), GWL_STYLE);
        checks_.check((paneStyle & (ES_READONLY | ES_MULTILINE)) == (ES_READONLY | ES_MULTILINE) &&
                          (paneStyle & (WS_VSCROLL | WS_HSCROLL)) == 0,
                      "the log pane is multi-line, read-only, without scroll bars");
    }

    void checkList()
    {
        const HWND list = control(1008);
        const auto header = reinterpret_cast<HWND>(send(list, LVM_GETHEADER));
        checks_.check(header != nullptr && send(header, HDM_GETITEMCOUNT) == 3, "the list's header has 3 columns");
        const std::pair<const wchar_t*, int> expected[] = {{L"File", 224}, {L"Flags", 90}, {L"Size", 90}};
        std::string got;
        bool same = true;
        for (int i = 0; i < 3; ++i) {
            const auto column = readListColumn(program_.handle(), list, i);
            same = same && column && column->title == expected[i].first && column->width == expected[i].second;
            got += ' ';
            got += column ? show(column->title) + ' ' + std::to_string(column->width) : "(unreadable)";
        }
        checks_.check(same, "LVM_GETCOLUMNW across processes: File 224, Flags 90, Size 90", got);
        const auto styles = send(list, LVM_GETEXTENDEDLISTVIEWSTYLE);
        checks_.check(styles == (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
                      "the list has grid lines and full-row selection", std::to_string(styles));
        checks_.check(send(list, LVM_GETIMAGELIST, LVSIL_SMALL) != 0, "the list has its small image list");
        const LONG style = GetWindowLongW(list, GWL_STYLE);
        checks_.check((style & LVS_TYPEMASK) == LVS_REPORT && (style & LVS_SINGLESEL) == 0,
                      "the list is a report view with several rows selectable");
    }

    void checkRefusals()
    {
        for (const int id : kPhoneButtons) {
            const std::wstring before = log();
            const std::wstring after = logAfterClick(id);
            checks_.check(after == before + std::wstring(kRefusal),
                          "button " + std::to_string(id) + " " + show(textOf(control(id))) + " refuses without a phone",
                          show(after.substr(std::min(after.size(), before.size()))));
        }
        for (const int id : kPhoneMenuItems) {
            const std::wstring before = log();
            send(main_, WM_COMMAND, static_cast<WPARAM>(id));
            checks_.check(log() == before + std::wstring(kRefusal),
                          "menu command " + std::to_string(id) + " refuses without a phone");
        }
    }

    static std::wstring staticTextOf(HWND box)
    {
        std::wstring text;
        for (HWND child : childrenInOrder(box))
            if (classOf(child) == L"Static" && textOf(child).size() > text.size())
                text = textOf(child);
        return text;
    }

    static int buttonCount(HWND box)
    {
        int count = 0;
        for (HWND child : childrenInOrder(box))
            count += classOf(child) == L"Button" && IsWindowVisible(child) ? 1 : 0;
        return count;
    }

    void checkAbout()
    {
        const std::wstring before = log();
        PostMessageW(control(1004), BM_CLICK, 0, 0);
        HWND box = nullptr;
        const bool opened = waitUntil([&] { return (box = findOwnedWindow(main_, L"#32770")); }, kUiTimeoutMs);
        if (!checks_.check(opened, "About opens a box owned by the window"))
            return;
        const std::wstring text = staticTextOf(box);
        checks_.check(textOf(box) == L"About", "the box is captioned About", show(textOf(box)));
        checks_.check(text.starts_with(L"p2kfm") && text.find(L"\r\ndesigned for Motorola P2K phones\r\n") !=
                                                         std::wstring::npos &&
                          text.ends_with(L"\r\nbuild 12.03.2004"),
                      "the About text names p2kfm, the phones and the build", show(text));
        checks_.check(buttonCount(box) == 1, "the About box has only an OK button",
                      std::to_string(buttonCount(box)) + " buttons");
        screenshotOf("about", box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        checks_.check(waitUntil([&] { return !IsWindow(box); }, kUiTimeoutMs), "OK closes the About box");
        checks_.check(log() == before, "About logs nothing");
    }

    void checkCheckBox()
    {
        const std::wstring before = log();
        send(control(1020), BM_CLICK);
        const bool marked = send(control(1020), BM_GETCHECK) == BST_CHECKED;
        send(control(1020), BM_CLICK);
        const bool unmarked = send(control(1020), BM_GETCHECK) == BST_UNCHECKED;
        checks_.check(marked && unmarked && log() == before,
                      "the auto-refresh box toggles without a phone and logs nothing");
    }

    void checkEnterAndEscape()
    {
        const std::wstring before = log();
        send(main_, WM_COMMAND, IDOK);
        send(main_, WM_COMMAND, IDCANCEL);
        checks_.check(shown() && log() == before, "IDOK and IDCANCEL leave the window open and log nothing");
        for (const WORD key : {VK_RETURN, VK_ESCAPE}) {
            PostMessageW(control(1009), WM_KEYDOWN, key, 1);
            PostMessageW(control(1009), WM_KEYUP, key, 0xC0000001);
        }
        const bool drained = drainPosted();
        checks_.check(drained && shown() && log() == before + std::wstring(kRefusal),
                      "Enter and Escape in a field leave the window open");
    }

    void checkNotificationCodes()
    {
        const std::wstring before = log();
        send(main_, WM_COMMAND, MAKEWPARAM(1009, EN_CHANGE), reinterpret_cast<LPARAM>(control(1009)));
        send(main_, WM_COMMAND, MAKEWPARAM(1001, BN_DOUBLECLICKED), reinterpret_cast<LPARAM>(control(1001)));
        send(main_, WM_COMMAND, MAKEWPARAM(1101, 1));
        checks_.check(log() == before, "command messages with a notification code run nothing");
    }

    void checkSystemCommands()
    {
        PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE | 1, 0);
        checks_.check(drainPosted() && IsWindow(main_) && shown(),
                      "a close request with extra low bits leaves the window open");
        send(main_, WM_SYSCOMMAND, SC_MINIMIZE | 2);
        const bool iconic = waitUntil([&] { return IsIconic(main_) != 0; }, kUiTimeoutMs);
        send(main_, WM_SYSCOMMAND, SC_RESTORE);
        const bool restored = waitUntil([&] { return shown(); }, kUiTimeoutMs);
        checks_.check(iconic && restored, "a minimise request with extra low bits minimises the ordinary way");
    }

    void checkTray()
    {
        send(main_, WM_SYSCOMMAND, SC_MINIMIZE);
        checks_.check(!IsWindowVisible(main_) && !IsIconic(main_), "minimise hides the window (to the tray)");
        send(main_, kTrayCallback, 1, WM_RBUTTONUP);
        send(main_, kTrayCallback, 1, WM_LBUTTONDOWN);
        send(main_, kTrayCallback, 1, WM_MOUSEMOVE);
        checks_.check(!IsWindowVisible(main_), "other mouse events on the tray icon leave it hidden");
        send(main_, kTrayCallback, 1, WM_LBUTTONUP);
        checks_.check(shown(), "the tray callback with a left button release restores the window");
        checkTrayIcon();
    }

    // The notification area of Wine's taskbar: the icon shows while the
    // window is hidden, and a real left click on it brings the window back.
    void checkTrayIcon()
    {
        const HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
        if (!checks_.check(taskbar != nullptr, "the desktop has a taskbar with a notification area"))
            return;
        // The taskbar repaints on its own time after the last removal.
        const bool emptyBefore = waitUntil([&] { return !findTrayIcon(taskbar); }, kUiTimeoutMs);
        send(main_, WM_SYSCOMMAND, SC_MINIMIZE);
        // Found when two looks a moment apart agree, so that the icon is
        // painted whole.
        std::optional<POINT> icon;
        waitUntil(
            [&] {
                const auto first = findTrayIcon(taskbar);
                Sleep(200);
                icon = findTrayIcon(taskbar);
                return first && icon && first->x == icon->x;
            },
            kUiTimeoutMs);
        checks_.check(emptyBefore && icon, "minimise puts the icon into the notification area",
                      emptyBefore ? "no icon appeared" : "the area was not empty before");
        if (!icon)
            return;
        // Wine's taskbar now and then misses the pointer's arrival; a person
        // would move onto the icon again.
        HWND tip = nullptr;
        for (int attempt = 0; attempt < 3 && tip == nullptr; ++attempt) {
            moveMouseTo({icon->x - 40, icon->y});
            moveMouseTo(*icon);
            waitUntil([&] { return (tip = findVisibleTip()); }, 2000);
        }
        checks_.check(tip != nullptr && textOf(tip) == L"Left click to open service window.",
                      "the icon's tip reads \"Left click to open service window.\"",
                      tip != nullptr ? show(textOf(tip)) : "no tip shown");
        screenshotAround("tray", tip != nullptr ? std::initializer_list<HWND>{taskbar, tip}
                                               : std::initializer_list<HWND>{taskbar});
        bool restored = false;
        for (int attempt = 0; attempt < 3 && !restored; ++attempt) {
            leftClickAt(*icon);
            restored = waitUntil([&] { return shown(); }, 3000);
        }
        checks_.check(restored, "a left click on the icon restores the window", inputState());
        checks_.check(waitUntil([&] { return !findTrayIcon(taskbar); }, kUiTimeoutMs),
                      "restoring removes the icon from the notification area");
    }

    void checkPopupMenu()
    {
        RECT list{};
        GetWindowRect(control(1008), &list);
        const std::wstring before = log();
        rightClickAt({(list.left + list.right) / 2, (list.top + list.bottom) / 2});
        const DWORD windowThread = GetWindowThreadProcessId(main_, nullptr);
        HWND menu = nullptr;
        const bool opened = waitUntil([&] { return (menu = findThreadWindow(windowThread, L"#32768")); }, kUiTimeoutMs);
        if (!checks_.check(opened, "a right click on empty list space opens the pop-up menu")) {
            takeScreenshot("menu-failure", RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
            return;
        }
        screenshotAround("menu", {main_, menu});
        pressKey(VK_DOWN);
        pressKey(VK_RETURN);
        const bool chosen =
            waitUntil([&] { return log().size() >= before.size() + kRefusal.size() && !IsWindow(menu); }, kUiTimeoutMs);
        checks_.check(chosen && log() == before + std::wstring(kRefusal),
                      "choosing \"Скачать\" from the pop-up menu refuses without a phone",
                      show(log().substr(std::min(log().size(), before.size()))));
    }

    // Where the pointer is and who has the input, for a failed click.
    static std::string inputState()
    {
        POINT cursor{};
        GetCursorPos(&cursor);
        const HWND foreground = GetForegroundWindow();
        return "pointer at " + std::to_string(cursor.x) + "," + std::to_string(cursor.y) + ", foreground " +
               (foreground != nullptr ? narrow(classOf(foreground)) : std::string("none"));
    }

    static bool wholeRefusalLines(std::wstring_view text)
    {
        if (text.size() % kRefusal.size() != 0)
            return false;
        for (size_t at = 0; at < text.size(); at += kRefusal.size())
            if (text.substr(at, kRefusal.size()) != kRefusal)
                return false;
        return true;
    }

    std::pair<size_t, size_t> selection() const
    {
        const auto packed = static_cast<DWORD>(send(control(1000), EM_GETSEL));
        return {LOWORD(packed), HIWORD(packed)};
    }

    void checkLogTrimming()
    {
        const HWND pane = control(1000);
        const size_t start = log().size();
        // The operator's caret on a line start in the middle of the log.
        const size_t caret = start / kRefusal.size() / 2 * kRefusal.size();
        send(pane, EM_SETSEL, caret, static_cast<LPARAM>(caret));
        size_t longest = 0;
        bool trimmed = false;
        size_t previous = start;
        for (int i = 0; i < 200; ++i) {
            const size_t length = logAfterClick(1001).size();
            longest = std::max(longest, length);
            trimmed = trimmed || length < previous;
            previous = length;
        }
        const std::wstring text = log();
        checks_.check(trimmed && longest <= logPaneLimitsFor(kLogLimit).highWater,
                      "a long log drops its oldest lines and stays within its limit",
                      "longest " + std::to_string(longest) + (trimmed ? "" : ", never trimmed"));
        checks_.check(wholeRefusalLines(text), "after trimming the log holds whole lines only");
        const size_t tail = start - caret;
        checks_.check(selection() == std::pair{text.size() - tail, text.size() - tail},
                      "appends keep landing at the operator's caret across trimming",
                      "caret " + std::to_string(selection().first) + " of " + std::to_string(text.size()));
        send(pane, EM_SETSEL, 0, static_cast<LPARAM>(kRefusal.size()));
        const std::wstring replaced = logAfterClick(1001);
        checks_.check(replaced.size() == text.size() && wholeRefusalLines(replaced),
                      "an append replaces the operator's selection");
        send(pane, EM_SETSEL, replaced.size(), static_cast<LPARAM>(replaced.size()));
    }

    void attachPhone()
    {
        const HANDLE attach = OpenEventW(EVENT_MODIFY_STATE, FALSE, widen(demoAttachEventName(program_.id())).c_str());
        if (!checks_.check(attach != nullptr, "the demo's hold-back can be released"))
            return;
        SetEvent(attach);
        CloseHandle(attach);
        const bool online = waitUntil([&] { return textOf(control(1019)) == L"на связи!"; }, kAttachTimeoutMs);
        checks_.check(online, "status reads \"на связи!\" once the phone attaches", show(textOf(control(1019))));
        checkFileList();
        screenshotOf("window", main_);
        checkDownload();
        checkDelete();
        checkUpload();
        checkAttributes();
        checkSeemRoundTrip();
        checkLongSeemRange();
        checkLongUpload();
        checkRestartBy(1003, "\"Рестарт\"");
        checkUpdateRingtones();
        checkSuspend();
    }

    HWND list() const { return control(1008); }
    int rowCount() const { return static_cast<int>(send(list(), LVM_GETITEMCOUNT)); }
    std::vector<std::wstring> names() const { return readListColumnTexts(program_.handle(), list(), 0); }

    int rowNamed(std::wstring_view name) const
    {
        const std::vector<std::wstring> all = names();
        const auto found = std::find(all.begin(), all.end(), name);
        return found == all.end() ? -1 : static_cast<int>(found - all.begin());
    }

    // What the log gained after before, once it holds ending (or after the wait).
    std::wstring logGainUntil(const std::wstring& before, std::wstring_view ending, DWORD timeoutMs = kUiTimeoutMs)
    {
        std::wstring gained;
        waitUntil(
            [&] {
                const std::wstring now = log();
                gained = now.size() >= before.size() ? now.substr(before.size()) : now;
                return gained.find(ending) != std::wstring::npos;
            },
            timeoutMs);
        return gained;
    }

    std::wstring refreshList()
    {
        const std::wstring before = log();
        PostMessageW(control(1001), BM_CLICK, 0, 0);
        return logGainUntil(before, L"Найдено файлов:");
    }

    void checkFileList()
    {
        const std::wstring gained = refreshList();
        checks_.check(gained.find(L"Найдено файлов:33\r\n") != std::wstring::npos,
                      "\"СПИСОК\" logs \"Найдено файлов:33\"", show(gained));
        checks_.check(rowCount() == 33, "the list shows 33 rows", std::to_string(rowCount()) + " rows");
        const bool russian = rowNamed(L"/a/mobile/audio/Мелодия.mid") >= 0 && rowNamed(L"/a/mobile/picture/Фото_001.jpg") >= 0;
        checks_.check(russian, "Russian names read back across processes as the phone's Windows-1251 decoded");
        const int row = rowNamed(L"/a/mobile/system/bookmarks.txt");
        const std::wstring flags = row >= 0 ? readListItemText(program_.handle(), list(), row, 1) : L"";
        const std::wstring size = row >= 0 ? readListItemText(program_.handle(), list(), row, 2) : L"";
        checks_.check(flags == L"0" && size == L"421", "a row shows its flags and size", narrow(flags + L" " + size));
        screenshotOf("list", main_);
        checkSortByHeader();
    }

    void clickFileHeader()
    {
        const auto header = reinterpret_cast<HWND>(send(list(), LVM_GETHEADER));
        RECT area{};
        GetWindowRect(header, &area);
        leftClickAt({area.left + 100, (area.top + area.bottom) / 2});
    }

    void checkSortByHeader()
    {
        clickFileHeader();
        std::vector<std::wstring> first;
        waitUntil([&] { first = names(); return std::is_sorted(first.begin(), first.end()) ||
                                                std::is_sorted(first.rbegin(), first.rend()); }, kUiTimeoutMs);
        const bool sorted = std::is_sorted(first.begin(), first.end()) || std::is_sorted(first.rbegin(), first.rend());
        checks_.check(sorted && first.size() == 33, "a click on the \"File\" header sorts the rows by name",
                      first.empty() ? "no rows" : "top row " + show(first.front()));
        const int firstArrow = arrowOfFileColumn();
        // A second click within the double-click time would be a double click.
        moveMouseTo({0, 0});
        Sleep(GetDoubleClickTime() + 200);
        clickFileHeader();
        std::vector<std::wstring> second;
        const std::vector<std::wstring> flipped(first.rbegin(), first.rend());
        const bool flips = waitUntil([&] { second = names(); return second == flipped; }, kUiTimeoutMs);
        checks_.check(flips && !first.empty(), "a second click on the header flips the order",
                      second.empty() ? "no rows" : "top row " + show(second.front()));
        const int secondArrow = arrowOfFileColumn();
        checks_.check(firstArrow >= 0 && secondArrow >= 0 && firstArrow != secondArrow,
                      "the \"File\" column shows the sort arrow, turned by the second click",
                      std::to_string(firstArrow) + " then " + std::to_string(secondArrow));
        screenshotOf("sorted", main_);
    }

    // The arrow image right of the File column's caption; -1 when none.
    int arrowOfFileColumn() const
    {
        const auto column = readListColumn(program_.handle(), list(), 0);
        constexpr int kArrowFormat = LVCFMT_IMAGE | LVCFMT_BITMAP_ON_RIGHT;
        return column && (column->format & kArrowFormat) == kArrowFormat ? column->image : -1;
    }

    std::wstring transferFolder() const
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring folder = std::wstring(temp) + L"p2kfm-e2e";
        CreateDirectoryW(folder.c_str(), nullptr);
        return folder;
    }

    // The open or save dialog the command posted to button opened: types
    // path into its file name field and presses its default button.
    bool answerFileDialog(int button, const std::wstring& path, const std::string& what)
    {
        PostMessageW(control(button), BM_CLICK, 0, 0);
        HWND dialog = nullptr;
        const bool opened = waitUntil([&] { return (dialog = findOwnedWindow(main_, L"#32770")); }, kUiTimeoutMs);
        if (!checks_.check(opened, what + " opens a dialog owned by the window"))
            return false;
        checks_.check(!IsWindowEnabled(main_), "the window is disabled while the " + what + " dialog is open");
        const HWND name = fileNameField(dialog);
        if (!checks_.check(name != nullptr, "the " + what + " dialog has a file name field", describeChildren(dialog))) {
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            return false;
        }
        send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        return checks_.check(waitUntil([&] { return !IsWindow(dialog); }, kUiTimeoutMs),
                             "pressing the " + what + " dialog's button closes it");
    }

    // The edit field of the common dialog's file name box (cmb13, or edt1).
    static HWND fileNameField(HWND dialog)
    {
        HWND found = nullptr;
        EnumChildWindows(dialog, keepFileNameField, reinterpret_cast<LPARAM>(&found));
        return found;
    }

    // EnumChildWindows callbacks are stdcall, which a lambda is not on 32-bit Windows.
    static BOOL CALLBACK keepFileNameField(HWND child, LPARAM param)
    {
        const int id = GetDlgCtrlID(child);
        if (id != 0x47C && id != 0x480)
            return TRUE;
        HWND field = child;
        if (classOf(child) != L"Edit")
            field = FindWindowExW(child, nullptr, L"Edit", nullptr);
        if (field == nullptr)
            return TRUE;
        *reinterpret_cast<HWND*>(param) = field;
        return FALSE;
    }

    static std::string describeChildren(HWND dialog)
    {
        std::string text;
        EnumChildWindows(dialog, describeChild, reinterpret_cast<LPARAM>(&text));
        return text;
    }

    static BOOL CALLBACK describeChild(HWND child, LPARAM param)
    {
        auto& text = *reinterpret_cast<std::string*>(param);
        text.append(" ").append(std::to_string(GetDlgCtrlID(child))).append(":");
        text.append(narrow(classOf(child)));
        return TRUE;
    }

    static std::vector<uint8_t> fileBytes(const std::wstring& path)
    {
        std::ifstream in(std::filesystem::path(path), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    bool selectOnly(std::initializer_list<int> rows)
    {
        const std::vector<int> wanted(rows);
        return std::ranges::none_of(wanted, [](int row) { return row < 0; }) &&
               selectOnlyListRows(program_.handle(), list(), wanted);
    }

    // Two files, one save dialog: the first is saved where the dialog says,
    // the second lands beside it under its own (Cyrillic) title.
    void checkDownload()
    {
        const std::wstring first = L"/a/mobile/audio/Мелодия.mid";
        const std::wstring second = L"/a/mobile/system/bookmarks.txt";
        const int firstRow = rowNamed(first);
        const int secondRow = rowNamed(second);
        if (!checks_.check(firstRow < secondRow && selectOnly({firstRow, secondRow}),
                           "two rows can be selected for download, Мелодия.mid above bookmarks.txt"))
            return;
        const std::wstring firstTarget = transferFolder() + L"\\Мелодия.mid";
        const std::wstring secondTarget = transferFolder() + L"\\bookmarks.txt";
        DeleteFileW(firstTarget.c_str());
        DeleteFileW(secondTarget.c_str());
        const std::wstring before = log();
        if (!answerFileDialog(1005, firstTarget, "save"))
            return;
        const std::wstring expected = L"Скачиваем..." + first + L" ok\r\n" + L"Скачиваем..." + second + L" ok\r\n";
        const std::wstring gained = logGainUntil(before, expected);
        checks_.check(gained == expected, "both downloads log their names and ok", show(gained));
        checks_.check(findOwnedWindow(main_, L"#32770") == nullptr, "the second file asks no second dialog");
        checkSavedAsOnPhone(firstTarget, first);
        checkSavedAsOnPhone(secondTarget, second);
    }

    void checkSavedAsOnPhone(const std::wstring& pcPath, const std::wstring& phoneName)
    {
        const auto phone = sim::makeDemoPhone(windowsClock());
        const sim::SimFile* expected = phone->findFile(sim::toPhoneName(narrow(phoneName)));
        const std::vector<uint8_t> saved = fileBytes(pcPath);
        checks_.check(expected != nullptr && !saved.empty() && saved == expected->content,
                      narrow(pcPath) + " holds the demo phone's " + narrow(phoneName),
                      std::to_string(saved.size()) + " bytes");
    }

    void checkDelete()
    {
        const std::wstring victim = L"/a/mobile/picture/Thumb.bmp";
        if (!checks_.check(selectOnly({rowNamed(victim)}), "a row can be selected for deletion"))
            return;
        const std::wstring before = log();
        PostMessageW(control(1006), BM_CLICK, 0, 0);
        HWND box = nullptr;
        const bool asked = waitUntil([&] { return (box = findOwnedWindow(main_, L"#32770")); }, kUiTimeoutMs);
        if (!checks_.check(asked, "delete asks a question owned by the window"))
            return;
        checks_.check(staticTextOf(box).starts_with(L"Действительно удалить?\r\n/a/"),
                      "the question reads \"Действительно удалить?\" and names the file",
                      show(staticTextOf(box)));
        // A command message while the question is open must not start another command.
        send(main_, WM_COMMAND, 1001);
        PostMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
        const std::wstring gained = logGainUntil(before, L" ok\r\n");
        checks_.check(gained == L"Удаляем..." + victim + L" ok\r\n",
                      "Yes deletes the file, and nothing else ran meanwhile", show(gained));
        refreshList();
        checks_.check(rowCount() == 32 && rowNamed(victim) < 0, "the refreshed list no longer shows the deleted file",
                      std::to_string(rowCount()) + " rows");
    }

    void checkUpload()
    {
        const std::wstring source = transferFolder() + L"\\e2e_upload.txt";
        const std::string content = "uploaded by the end-to-end test\r\n";
        {
            std::ofstream out(std::filesystem::path(source), std::ios::binary | std::ios::trunc);
            out << content;
        }
        send(control(1017), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"/a/mobile/"));
        const std::wstring before = log();
        if (!answerFileDialog(1002, source, "open"))
            return;
        const std::wstring gained = logGainUntil(before, L" ok\r\n");
        checks_.check(gained == L"Закачка.../a/mobile/e2e_upload.txt ok\r\n", "the upload logs the phone name and ok",
                      show(gained));
        refreshList();
        const int row = rowNamed(L"/a/mobile/e2e_upload.txt");
        const std::wstring size = row >= 0 ? readListItemText(program_.handle(), list(), row, 2) : L"";
        checks_.check(rowCount() == 33 && size == std::to_wstring(content.size()),
                      "the refreshed list shows the uploaded file with its size", narrow(size));
    }

    void checkRestartBy(int button, const std::string& what)
    {
        PostMessageW(control(button), BM_CLICK, 0, 0);
        const bool away = waitUntil([&] { return textOf(control(1019)) == L"нет коннекта"; }, kAttachTimeoutMs);
        checks_.check(away, what + ": the status reads \"нет коннекта\" while the phone restarts",
                      show(textOf(control(1019))));
        const bool back = waitUntil([&] { return textOf(control(1019)) == L"на связи!"; }, kAttachTimeoutMs);
        checks_.check(back, what + ": then the status reads \"на связи!\" again", show(textOf(control(1019))));
    }

    void checkAttributes()
    {
        const std::wstring name = L"/a/mobile/system/bookmarks.txt";
        if (!checks_.check(selectOnly({rowNamed(name)}), "a row can be selected for an attribute change"))
            return;
        send(control(1015), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"4"));
        const std::wstring before = log();
        PostMessageW(control(1016), BM_CLICK, 0, 0);
        const std::wstring gained = logGainUntil(before, L" ok\r\n");
        checks_.check(gained == L"Меняем атрибут.." + name + L" ok\r\n", "\"Сменить атрибут\" changes the selected file",
                      show(gained));
        refreshList();
        const int changed = rowNamed(name);
        const std::wstring flags = changed >= 0 ? readListItemText(program_.handle(), list(), changed, 1) : L"";
        checks_.check(flags == L"4", "the refreshed list shows the new attribute", narrow(flags));
    }

    void checkSeemRoundTrip()
    {
        const std::wstring folder = transferFolder();
        const std::wstring saved = folder + L"\\004c_0001.seem";
        DeleteFileW(saved.c_str());
        send(control(1009), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"004c"));
        send(control(1010), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"004c"));
        std::wstring before = log();
        if (!answerFileDialog(1011, folder + L"\\xxxx_yyyy.seem", "SEEM save"))
            return;
        std::wstring gained = logGainUntil(before, L"Done.\r\n");
        checks_.check(gained.ends_with(L"Done.\r\n"), "\"Скачать SEEM\" reads the range", show(gained));
        const auto phone = sim::makeDemoPhone(windowsClock());
        const auto record = phone->seemRecord(0x4C, 1);
        checks_.check(record && fileBytes(saved) == *record, "004c_0001.seem holds the demo phone's record",
                      std::to_string(fileBytes(saved).size()) + " bytes");
        send(control(1013), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"004c"));
        send(control(1014), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0001"));
        before = log();
        if (!answerFileDialog(1012, saved, "SEEM open"))
            return;
        gained = logGainUntil(before, L" ok\r\n");
        checks_.check(gained.starts_with(L"Закачиваем СИМ N ") && gained.ends_with(L" ok\r\n"),
                      "\"Закачать SEEM\" writes the record back", show(gained));
    }

    // The window answers within a second all through a long command, and
    // Esc stops it within two.
    void checkAliveThenEsc(const std::string& what, const std::wstring& before)
    {
        DWORD slowest = 0;
        bool answered = true;
        for (int i = 0; i < 5; ++i) {
            const DWORD start = GetTickCount();
            DWORD_PTR ignored = 0;
            answered = answered && SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored) != 0;
            slowest = std::max(slowest, GetTickCount() - start);
            if (i == 2)
                clickListButton();
            Sleep(100);
        }
        const std::wstring during = log();
        const bool running = during.find(L"Прервано") == std::wstring::npos && during.find(L" ok\r\n") == std::wstring::npos
                             && during.find(L"Done.") == std::wstring::npos;
        checks_.check(answered && running, what + ": the window answers WM_NULL within 1 s during the command",
                      "slowest " + std::to_string(slowest) + " ms" + (running ? "" : ", but the command had ended"));
        const DWORD escAt = GetTickCount();
        PostMessageW(main_, WM_KEYDOWN, VK_ESCAPE, 0);
        const std::wstring gained = logGainUntil(before, L"Прервано\r\n", 2000);
        const bool ready = waitUntil([&] { return send(main_, WM_NULL) == 0 && IsWindowEnabled(main_); }, 2000);
        const DWORD took = GetTickCount() - escAt;
        checks_.check(gained.ends_with(L"Прервано\r\n") && ready && took <= 2000,
                      what + ": Esc ends it within 2 s with \"Прервано\" on a line of its own",
                      std::to_string(took) + " ms: " + show(gained.substr(gained.size() > 80 ? gained.size() - 80 : 0)));
        print("  measured: " + what + ": Esc to ready " + std::to_string(took) + " ms, slowest WM_NULL " +
              std::to_string(slowest) + " ms");
        Sleep(500); // a click that had been queued would have started its command by now
        const std::wstring after = log().substr(std::min(log().size(), before.size() + gained.size()));
        checks_.check(after.empty(), what + ": a click on СПИСОК during the command starts nothing", show(after));
    }

    // The mouse as the operator's hand would press the list button.
    void clickListButton()
    {
        const LPARAM inside = MAKELPARAM(5, 5);
        PostMessageW(control(1001), WM_LBUTTONDOWN, MK_LBUTTON, inside);
        PostMessageW(control(1001), WM_LBUTTONUP, 0, inside);
    }

    // The close box during a long command: the command stops, then the
    // program closes.
    void checkCloseBoxDuringCommand()
    {
        const std::wstring folder = transferFolder() + L"\\closing";
        std::filesystem::create_directories(std::filesystem::path(folder));
        send(control(1009), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0000"));
        send(control(1010), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0300"));
        clearLog();
        if (!answerFileDialog(1011, folder + L"\\xxxx_yyyy.seem", "SEEM save"))
            return;
        Sleep(300);
        const bool running = log().find(L"Done.") == std::wstring::npos;
        const DWORD closeAt = GetTickCount();
        PostMessageW(main_, WM_NCLBUTTONDOWN, HTCLOSE, 0);
        const bool ended = WaitForSingleObject(program_.handle(), 2000) == WAIT_OBJECT_0;
        const DWORD took = GetTickCount() - closeAt;
        DWORD code = 1;
        GetExitCodeProcess(program_.handle(), &code);
        checks_.check(running && ended && code == 0,
                      "the close box stops a SEEM range and closes the program within 2 s, exit code 0",
                      std::string(running ? "" : "the range had ended; ") +
                          (ended ? "exit code " + std::to_string(code) : "still running"));
        print("  measured: close box to exit " + std::to_string(took) + " ms");
    }

    // A fresh log pane, so that what the long command logs is all there is.
    std::wstring clearLog()
    {
        send(control(1000), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        return log();
    }

    void checkLongSeemRange()
    {
        send(control(1009), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0000"));
        send(control(1010), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0300"));
        const std::wstring before = clearLog();
        if (answerFileDialog(1011, transferFolder() + L"\\xxxx_yyyy.seem", "SEEM save"))
            checkAliveThenEsc("SEEM range 0000..0300", before);
    }

    void checkLongUpload()
    {
        const std::wstring source = transferFolder() + L"\\e2e_1mib.bin";
        {
            std::ofstream out(std::filesystem::path(source), std::ios::binary | std::ios::trunc);
            out << std::string(1024 * 1024, 'u');
        }
        send(control(1017), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"/a/"));
        const std::wstring before = clearLog();
        if (answerFileDialog(1002, source, "open"))
            checkAliveThenEsc("1 MiB upload", before);
    }

    void checkUpdateRingtones()
    {
        const std::wstring before = log();
        checkRestartBy(1021, "\"Обновить рингтоны\"");
        const std::wstring gained = logGainUntil(before, L"База рингтонов удалена\r\n");
        checks_.check(gained.find(L"База рингтонов удалена\r\n") != std::wstring::npos,
                      "\"Обновить рингтоны\" removes the ringtone database", show(gained));
    }

    void checkSuspend()
    {
        const std::wstring before = log();
        PostMessageW(control(1007), BM_CLICK, 0, 0);
        const bool drained = waitUntil([&] { return send(main_, WM_NULL) == 0 && IsWindowEnabled(main_); }, kUiTimeoutMs);
        Sleep(500);
        const std::wstring gained = log().substr(std::min(log().size(), before.size()));
        checks_.check(drained && gained.find(L"Косяк") == std::wstring::npos && gained.find(L"Блин") == std::wstring::npos,
                      "\"Спячка\" runs without a complaint", show(gained));
    }

public:
    // A program whose demo phone goes away at request kUnplugAtRequest: in
    // the middle of reading Track01.mp3 (58112 bytes, 57 reads), after the
    // list (8 requests), the open and the seek.
    static constexpr int kUnplugAtRequest = 30;

    void runUnplugged()
    {
        const bool online = waitUntil([&] { return textOf(control(1019)) == L"на связи!"; }, kAttachTimeoutMs);
        if (!checks_.check(online, "unplug run: the phone attaches"))
            return;
        refreshList();
        const int row = rowNamed(L"/a/mobile/audio/Track01.mp3");
        if (!checks_.check(selectOnly({row}), "unplug run: Track01.mp3 can be selected"))
            return;
        // The download reads the whole file before it asks where to save it:
        // gone mid-read, it never asks.
        const std::wstring before = clearLog();
        PostMessageW(control(1005), BM_CLICK, 0, 0);
        const std::wstring gone = logGainUntil(before, L"USB: Device gone!", kUiTimeoutMs);
        const DWORD goneAt = GetTickCount();
        const bool ready = waitUntil([&] { return send(main_, WM_NULL) == 0 && IsWindowEnabled(main_); }, 2000);
        const DWORD took = GetTickCount() - goneAt;
        Sleep(500); // anything the command still had to say
        const std::wstring gained = logGainUntil(before, L"USB: Device gone!");
        const std::wstring after = gained.substr(std::min(gained.size(), gained.find(L"USB: Device gone!")));
        const auto lines = std::count(after.begin(), after.end(), L'\n') + (after.ends_with(L"\n") ? 0 : 1);
        checks_.check(gone.find(L"USB: Device gone!") != std::wstring::npos && ready && lines <= 5,
                      "an unplugged download ends at once with at most 5 log lines", show(after));
        print("  measured: unplug to ready " + std::to_string(took) + " ms; the log after the unplug:\n" + show(after));
        const bool back = waitUntil([&] { return textOf(control(1019)) == L"на связи!"; }, kAttachTimeoutMs);
        checks_.check(back, "the demo phone comes back after the unplug", show(textOf(control(1019))));
        checkClose();
    }

private:
    void checkClose()
    {
        PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
        const bool ended = WaitForSingleObject(program_.handle(), kUiTimeoutMs) == WAIT_OBJECT_0;
        DWORD code = 1;
        GetExitCodeProcess(program_.handle(), &code);
        checks_.check(ended && code == 0, "Close ends the program with exit code 0",
                      ended ? "exit code " + std::to_string(code) : "still running");
    }

    void screenshotOf(const std::string& name, HWND window) { screenshotAround(name, {window}); }

    void screenshotAround(const std::string& name, std::initializer_list<HWND> windows)
    {
        RECT area{};
        for (HWND window : windows) {
            RECT rect{};
            GetWindowRect(window, &rect);
            UnionRect(&area, &area, &rect);
        }
        checks_.check(takeScreenshot(name, area), "screenshot " + name + ".png");
    }

    // Asks scripts/e2e.sh for a screenshot of area and waits for it.
    bool takeScreenshot(const std::string& name, RECT area)
    {
        Sleep(300); // let the windows finish painting
        const std::wstring base = shotDir_ + L"\\" + widen(name);
        DeleteFileW((base + L".done").c_str());
        {
            std::ofstream request(std::filesystem::path(base + L".partial"));
            request << area.left << ' ' << area.top << ' ' << area.right - area.left << ' ' << area.bottom - area.top
                    << '\n';
        }
        MoveFileExW((base + L".partial").c_str(), (base + L".request").c_str(), MOVEFILE_REPLACE_EXISTING);
        return waitUntil([&] { return GetFileAttributesW((base + L".done").c_str()) != INVALID_FILE_ATTRIBUTES; },
                         30000);
    }

    Checks& checks_;
    ProgramUnderTest& program_;
    std::wstring shotDir_;
    HWND main_ = nullptr;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool driverBuild = argc == 4 && std::wstring_view(argv[1]) == L"--driver-build";
    if (argc != 3 && !driverBuild) {
        print("usage: p2kfm-e2e [--driver-build] EXE SHOT_DIR");
        return 2;
    }
    const wchar_t* exe = argv[argc - 2];
    Checks checks;
    ProgramUnderTest program;
    const std::wstring arguments = driverBuild ? L""
                                               : L"--hold-phone --log-limit=" + std::to_wstring(kLogLimit)
                                                     + L" --command-interface=" + std::to_wstring(kCommandInterface);
    const bool started = program.start(exe, arguments);
    const std::wstring_view path = exe;
    const std::string name = narrow(path.substr(path.find_last_of(L"\\/") + 1));
    if (checks.check(started, name + " starts", "CreateProcess failed: " + std::to_string(GetLastError()))) {
        Session session(checks, program, argv[argc - 1]);
        if (session.findWindow())
            driverBuild ? session.runDriverBuild() : session.run();
    }
    if (!driverBuild) {
        ProgramUnderTest unplugged;
        const std::wstring unplugArguments = L"--unplug-after-requests " + std::to_wstring(Session::kUnplugAtRequest);
        if (checks.check(unplugged.start(exe, unplugArguments), name + " starts with " + narrow(unplugArguments))) {
            Session session(checks, unplugged, argv[argc - 1]);
            if (session.findWindow())
                session.runUnplugged();
        }
    }
    return checks.failed() == 0 ? 0 : 1;
}
