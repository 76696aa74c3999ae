#include "win32/file_dialogs_win32.h"

#include "core/text_win32.h"

#include <commdlg.h>

#include <array>

namespace p2k {

namespace {

constexpr size_t kPathUnits = 511;
// The literal's own terminator closes the list with a second NUL.
constexpr wchar_t kFilter[] = L"Все файлы\0*.*\0";

} // namespace

std::optional<DialogChoice> Win32FileDialogs::showOpen()
{
    return show(false, {});
}

std::optional<DialogChoice> Win32FileDialogs::showSave(std::string_view proposedName)
{
    return show(true, proposedName);
}

std::optional<DialogChoice> Win32FileDialogs::show(bool save, std::string_view proposedName)
{
    std::array<wchar_t, kPathUnits + 1> path{};
    std::array<wchar_t, kPathUnits + 1> title{};
    widen(proposedName).copy(path.data(), kPathUnits);
    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner_();
    request.lpstrFilter = kFilter;
    request.lpstrFile = path.data();
    request.nMaxFile = kPathUnits;
    request.lpstrFileTitle = title.data();
    request.nMaxFileTitle = kPathUnits;
    request.Flags = 0;
    const BOOL chosen = save ? GetSaveFileNameW(&request) : GetOpenFileNameW(&request);
    if (!chosen)
        return std::nullopt;
    return DialogChoice{narrow(path.data()), narrow(title.data())};
}

} // namespace p2k
