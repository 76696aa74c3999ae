#pragma once

#include "commands/file_list_control.h"

#include <windows.h>

#include <functional>

namespace p2k {

// The file list control 1008. The window is looked up on each call, so the
// object can exist before the dialog does.
class Win32FileList : public FileListControl {
public:
    explicit Win32FileList(std::function<HWND()> list) : list_(std::move(list)) {}

    void deleteAllRows() override;
    void insertRowAtTop(std::string_view name, std::string_view flags, std::string_view size,
                        const uint8_t* entry) override;
    void beginFill() override;
    void endFill() override;
    void setColumnArrow(int column, int image) override;
    void sortRows(const std::function<int(const uint8_t*, const uint8_t*)>& compare) override;
    int nextSelectedRow(int after) override;
    const uint8_t* rowEntry(int index) override;

private:
    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam) const;

    std::function<HWND()> list_;
};

// The phone's Windows-1251 bytes as UTF-16, independent of the system's code page.
std::wstring cp1251ToWide(std::string_view cp1251);

} // namespace p2k
