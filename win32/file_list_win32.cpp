#include "win32/file_list_win32.h"

#include "core/cp1251.h"
#include "core/text_win32.h"

#include <commctrl.h>

namespace p2k {

namespace {

constexpr int kRowImage = 2;

using EntryCompare = std::function<int(const uint8_t*, const uint8_t*)>;

int CALLBACK compareItems(LPARAM first, LPARAM second, LPARAM compare)
{
    return (*reinterpret_cast<const EntryCompare*>(compare))(reinterpret_cast<const uint8_t*>(first),
                                                             reinterpret_cast<const uint8_t*>(second));
}

} // namespace

std::wstring cp1251ToWide(std::string_view cp1251)
{
    std::wstring wide;
    wide.reserve(cp1251.size());
    // Every Windows-1251 character lies in the basic plane: one unit each.
    for (const char byte : cp1251)
        wide.push_back(static_cast<wchar_t>(cp1251ToCodePoint(static_cast<unsigned char>(byte))));
    return wide;
}

LRESULT Win32FileList::send(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return SendMessageW(list_(), message, wParam, lParam);
}

void Win32FileList::deleteAllRows()
{
    send(LVM_DELETEALLITEMS, 0, 0);
}

void Win32FileList::insertRowAtTop(std::string_view name, std::string_view flags, std::string_view size,
                                   const uint8_t* entry)
{
    std::wstring text = cp1251ToWide(name);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = 0;
    item.iImage = kRowImage;
    item.pszText = text.data();
    item.lParam = reinterpret_cast<LPARAM>(entry);
    const auto row = static_cast<WPARAM>(send(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    const std::string_view subitems[] = {flags, size};
    for (int column = 1; column <= 2; ++column) {
        std::wstring value = widen(subitems[column - 1]);
        LVITEMW sub{};
        sub.iSubItem = column;
        sub.pszText = value.data();
        send(LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
    }
}

void Win32FileList::beginFill()
{
    send(WM_SETREDRAW, FALSE, 0);
}

void Win32FileList::endFill()
{
    send(WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_(), nullptr, TRUE);
}

void Win32FileList::setColumnArrow(int column, int image)
{
    LVCOLUMNW record{};
    record.mask = LVCF_FMT;
    if (image >= 0) {
        record.mask |= LVCF_IMAGE;
        record.fmt = LVCFMT_IMAGE | LVCFMT_BITMAP_ON_RIGHT;
        record.iImage = image;
    }
    send(LVM_SETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&record));
}

void Win32FileList::sortRows(const std::function<int(const uint8_t*, const uint8_t*)>& compare)
{
    send(LVM_SORTITEMS, reinterpret_cast<WPARAM>(&compare), reinterpret_cast<LPARAM>(&compareItems));
}

int Win32FileList::nextSelectedRow(int after)
{
    return static_cast<int>(send(LVM_GETNEXTITEM, static_cast<WPARAM>(after), MAKELPARAM(LVNI_SELECTED, 0)));
}

const uint8_t* Win32FileList::rowEntry(int index)
{
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (send(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) == 0)
        return nullptr;
    return reinterpret_cast<const uint8_t*>(item.lParam);
}

} // namespace p2k
