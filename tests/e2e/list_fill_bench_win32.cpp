// p2kfm-list-bench.exe [ROWS]
//
// Times Win32FileList filling a real report list view with ROWS rows (65534
// by default, the most a phone lists), as a refresh does: delete all rows,
// then insert each at the top between beginFill and endFill. Prints the fill
// time, and for comparison the time of the first kCompareRows rows filled
// without suspending the redraw (every insert repaints: too slow for all).

#include "win32/file_list_win32.h"
#include "sim/demo_phone.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace p2k;

constexpr int kDefaultRows = 65534;
constexpr size_t kCompareRows = 500;

struct Row {
    std::string name;
    std::string flags;
    std::string size;
};

std::vector<Row> makeRows(int count)
{
    std::vector<Row> rows;
    rows.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%05d", i);
        rows.push_back({sim::toPhoneName(std::string("/a/mobile/audio/Мелодия_") + number + ".mid"), "0",
                        std::to_string(1000 + i)});
    }
    return rows;
}

double seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double timeFill(Win32FileList& list, const std::vector<Row>& rows, bool suspendRedraw)
{
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    QueryPerformanceCounter(&start);
    list.deleteAllRows();
    if (suspendRedraw)
        list.beginFill();
    for (const Row& row : rows)
        list.insertRowAtTop(row.name, row.flags, row.size, reinterpret_cast<const uint8_t*>(&row));
    if (suspendRedraw)
        list.endFill();
    QueryPerformanceCounter(&end);
    return seconds(start, end);
}

// Lets the window paint what it has.
void pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int count = argc > 1 ? _wtoi(argv[1]) : kDefaultRows;
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    const HWND view = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE | LVS_REPORT, 0, 0, 500,
                                      400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (view == nullptr) {
        std::puts("FAIL no list view");
        return 1;
    }
    const wchar_t* titles[] = {L"File", L"Flags", L"Size"};
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNW record{};
        record.mask = LVCF_TEXT | LVCF_WIDTH;
        record.cx = column == 0 ? 224 : 90;
        record.pszText = const_cast<wchar_t*>(titles[column]);
        SendMessageW(view, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&record));
    }
    pump();
    Win32FileList list([view] { return view; });
    const std::vector<Row> rows = makeRows(count);
    const double suspended = timeFill(list, rows, true);
    pump();
    const std::vector<Row> few(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(std::min(kCompareRows, rows.size())));
    const double drawing = timeFill(list, few, false);
    pump();
    timeFill(list, rows, true);
    pump();
    const auto shown = SendMessageW(view, LVM_GETITEMCOUNT, 0, 0);
    wchar_t top[128] = {};
    LVITEMW item{};
    item.pszText = top;
    item.cchTextMax = 128;
    SendMessageW(view, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item));
    const bool ok = shown == count && std::wstring(top) == cp1251ToWide(rows.back().name);
    std::printf("%s %d rows filled in %.3f s with the redraw suspended (%.1f us per row); %d rows without: %.3f s\n",
                ok ? "ok  " : "FAIL", static_cast<int>(shown), suspended, suspended * 1e6 / (count > 0 ? count : 1),
                static_cast<int>(few.size()), drawing);
    DestroyWindow(view);
    return ok ? 0 : 1;
}
