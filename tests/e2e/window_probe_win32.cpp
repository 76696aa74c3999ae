#include "tests/e2e/window_probe_win32.h"

#include <commctrl.h>

#include <algorithm>

namespace p2k::e2e {

namespace {

constexpr UINT kSendTimeoutMs = 5000;

struct WindowSearch {
    DWORD processId = 0;
    DWORD threadId = 0;
    HWND owner = nullptr;
    std::wstring_view className = {};
    std::optional<std::wstring_view> caption = std::nullopt;
    HWND found = nullptr;
};

bool matches(HWND window, const WindowSearch& search)
{
    DWORD processId = 0;
    const DWORD threadId = GetWindowThreadProcessId(window, &processId);
    if (search.processId != 0 && processId != search.processId)
        return false;
    if (search.threadId != 0 && threadId != search.threadId)
        return false;
    if (search.owner != nullptr && GetWindow(window, GW_OWNER) != search.owner)
        return false;
    if (!IsWindowVisible(window) || classOf(window) != search.className)
        return false;
    return !search.caption || textOf(window) == *search.caption;
}

BOOL CALLBACK visitTopLevel(HWND window, LPARAM searchParam)
{
    auto& search = *reinterpret_cast<WindowSearch*>(searchParam);
    if (!matches(window, search))
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND findTopLevel(WindowSearch search)
{
    EnumWindows(visitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A block of memory in another process, freed on destruction.
class RemoteMemory {
public:
    RemoteMemory(HANDLE process, size_t size)
        : process_(process), address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE))
    {
    }
    ~RemoteMemory()
    {
        if (address_ != nullptr)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    void* address() const { return address_; }
    bool write(const void* data, size_t size, size_t offset = 0) const
    {
        return WriteProcessMemory(process_, at(offset), data, size, nullptr) != 0;
    }
    bool read(void* data, size_t size, size_t offset = 0) const
    {
        return ReadProcessMemory(process_, at(offset), data, size, nullptr) != 0;
    }

private:
    void* at(size_t offset) const { return static_cast<char*>(address_) + offset; }

    HANDLE process_;
    void* address_;
};

void sendInput(INPUT input)
{
    SendInput(1, &input, sizeof input);
}

// The screen's pixels in area, row by row, as 0x00BBGGRR values; empty when
// they can't be read.
std::vector<COLORREF> screenPixels(RECT area)
{
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return {};
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height; // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<COLORREF> pixels;
    if (bitmap != nullptr) {
        const HGDIOBJ previous = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY)) {
            const auto* data = static_cast<const COLORREF*>(bits);
            pixels.assign(data, data + static_cast<size_t>(width) * static_cast<size_t>(height));
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

INPUT mouseInput(POINT screen, DWORD flags)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
    return input;
}

void clickAt(POINT screen, DWORD down, DWORD up)
{
    moveMouseTo(screen);
    sendInput(mouseInput(screen, down));
    sendInput(mouseInput(screen, up));
}

} // namespace

LRESULT send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::wstring textOf(HWND window)
{
    const auto length = static_cast<size_t>(send(window, WM_GETTEXTLENGTH));
    std::wstring text(length + 1, L'\0');
    const auto copied = static_cast<size_t>(
        send(window, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data())));
    text.resize(copied <= length ? copied : length);
    return text;
}

std::wstring classOf(HWND window)
{
    wchar_t name[64] = {};
    const int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name, static_cast<size_t>(length > 0 ? length : 0));
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

HWND findProcessWindow(DWORD processId, std::wstring_view className, std::wstring_view caption)
{
    return findTopLevel({.processId = processId, .className = className, .caption = caption});
}

HWND findOwnedWindow(HWND owner, std::wstring_view className)
{
    return findTopLevel({.owner = owner, .className = className});
}

HWND findThreadWindow(DWORD threadId, std::wstring_view className)
{
    return findTopLevel({.threadId = threadId, .className = className});
}

std::vector<HWND> childrenInOrder(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

std::optional<ListColumn> readListColumn(HANDLE process, HWND list, int index)
{
    constexpr size_t kTitleUnits = 64;
    RemoteMemory memory(process, sizeof(LVCOLUMNW) + kTitleUnits * sizeof(wchar_t));
    if (memory.address() == nullptr)
        return std::nullopt;
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_IMAGE;
    column.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(memory.address()) + sizeof(LVCOLUMNW));
    column.cchTextMax = kTitleUnits;
    if (!memory.write(&column, sizeof column))
        return std::nullopt;
    if (send(list, LVM_GETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(memory.address())) == 0)
        return std::nullopt;
    wchar_t title[kTitleUnits] = {};
    if (!memory.read(&column, sizeof column) || !memory.read(title, sizeof title, sizeof(LVCOLUMNW)))
        return std::nullopt;
    title[kTitleUnits - 1] = L'\0';
    return ListColumn{title, column.cx, column.fmt, column.iImage};
}

std::wstring readListItemText(HANDLE process, HWND list, int row, int subitem)
{
    constexpr size_t kTextUnits = 512;
    RemoteMemory memory(process, sizeof(LVITEMW) + kTextUnits * sizeof(wchar_t));
    if (memory.address() == nullptr)
        return {};
    LVITEMW item{};
    item.iSubItem = subitem;
    item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(memory.address()) + sizeof(LVITEMW));
    item.cchTextMax = kTextUnits;
    if (!memory.write(&item, sizeof item))
        return {};
    const auto units = static_cast<size_t>(
        send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(memory.address())));
    std::wstring text(std::min(units, kTextUnits - 1), L'\0');
    if (!text.empty() && !memory.read(text.data(), text.size() * sizeof(wchar_t), sizeof(LVITEMW)))
        return {};
    return text;
}

std::vector<std::wstring> readListColumnTexts(HANDLE process, HWND list, int subitem)
{
    std::vector<std::wstring> texts;
    const auto rows = static_cast<int>(send(list, LVM_GETITEMCOUNT));
    for (int row = 0; row < rows; ++row)
        texts.push_back(readListItemText(process, list, row, subitem));
    return texts;
}

bool selectOnlyListRows(HANDLE process, HWND list, std::span<const int> rows)
{
    RemoteMemory memory(process, sizeof(LVITEMW));
    if (memory.address() == nullptr)
        return false;
    const auto setState = [&](int row, UINT state) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = state;
        return memory.write(&item, sizeof item) &&
               send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(memory.address())) != 0;
    };
    if (!setState(-1, 0))
        return false;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!setState(rows[i], i == 0 ? LVIS_SELECTED | LVIS_FOCUSED : LVIS_SELECTED))
            return false;
    }
    return !rows.empty();
}

// Every event carries its position: under Wine a pointer placed with
// SetCursorPos can be moved back by a late motion report from X.
void moveMouseTo(POINT screen)
{
    sendInput(mouseInput(screen, 0));
    Sleep(100);
}

HWND findVisibleTip()
{
    return findTopLevel({.className = TOOLTIPS_CLASSW});
}

std::optional<POINT> findTrayIcon(HWND taskbar)
{
    constexpr int kAreaWidth = 64;
    RECT bar{};
    GetWindowRect(taskbar, &bar);
    const int height = bar.bottom - bar.top;
    const std::vector<COLORREF> pixels = screenPixels({bar.right - kAreaWidth, bar.top, bar.right, bar.bottom});
    if (pixels.empty())
        return std::nullopt;
    const COLORREF background = pixels[static_cast<size_t>(height / 2 * kAreaWidth + kAreaWidth - 2)];
    auto marked = [&](int x) {
        for (int y = 0; y < height; ++y)
            if (pixels[static_cast<size_t>(y * kAreaWidth + x)] != background)
                return true;
        return false;
    };
    // The rightmost run of columns that hold something besides the bar.
    int right = kAreaWidth - 2;
    while (right >= 0 && !marked(right))
        --right;
    if (right < 0)
        return std::nullopt;
    int left = right;
    while (left > 0 && marked(left - 1))
        --left;
    return POINT{bar.right - kAreaWidth + (left + right) / 2, (bar.top + bar.bottom) / 2};
}

void leftClickAt(POINT screen)
{
    clickAt(screen, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
}

void rightClickAt(POINT screen)
{
    clickAt(screen, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
}

void pressKey(WORD virtualKey)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    sendInput(input);
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    sendInput(input);
}

} // namespace p2k::e2e
