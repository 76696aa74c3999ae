#pragma once

// Looking at and poking another process's windows, for the end-to-end tests.

#include <windows.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace p2k::e2e {

// Sends a message to another process's window; gives up after five seconds
// (the result is then 0).
LRESULT send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// WM_GETTEXT across processes.
std::wstring textOf(HWND window);
std::wstring classOf(HWND window);

// Polls condition every 20 ms until it holds or timeoutMs have passed.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// The first visible top-level window of the process with that class and caption.
HWND findProcessWindow(DWORD processId, std::wstring_view className, std::wstring_view caption);
// A visible top-level window of that class owned by owner.
HWND findOwnedWindow(HWND owner, std::wstring_view className);
// A visible top-level window of that class in the given thread.
HWND findThreadWindow(DWORD threadId, std::wstring_view className);

// The children of a window in z-order, which for a dialog is template order.
std::vector<HWND> childrenInOrder(HWND parent);

struct ListColumn {
    std::wstring title;
    int width = 0;
    int format = 0;
    int image = -1;
};

// A list view column read with LVM_GETCOLUMNW, whose record and text live in
// the list's process.
std::optional<ListColumn> readListColumn(HANDLE process, HWND list, int index);

// A list view item's or subitem's text, read with LVM_GETITEMTEXTW through
// memory in the list's process; empty when unreadable.
std::wstring readListItemText(HANDLE process, HWND list, int row, int subitem);
// Every row's text in one column, top to bottom.
std::vector<std::wstring> readListColumnTexts(HANDLE process, HWND list, int subitem);
// Makes rows the list's only selected rows, the first of them focused
// (LVM_SETITEMSTATE across processes).
bool selectOnlyListRows(HANDLE process, HWND list, std::span<const int> rows);

// A visible tooltip window of any process.
HWND findVisibleTip();

// Where the rightmost icon of the taskbar's notification area is drawn, read
// from the screen's pixels: nothing when the area is empty.
std::optional<POINT> findTrayIcon(HWND taskbar);

// Real mouse and keyboard input, as a person would give it.
void moveMouseTo(POINT screen);
void leftClickAt(POINT screen);
void rightClickAt(POINT screen);
void pressKey(WORD virtualKey);

} // namespace p2k::e2e
