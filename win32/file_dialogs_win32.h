#pragma once

#include "commands/file_dialogs.h"

#include <windows.h>

#include <functional>

namespace p2k {

// The common open and save dialogs, modal over the main window (which they
// disable while open). They move the process's current directory.
class Win32FileDialogs : public FileDialogs {
public:
    explicit Win32FileDialogs(std::function<HWND()> owner) : owner_(std::move(owner)) {}

    std::optional<DialogChoice> showOpen() override;
    std::optional<DialogChoice> showSave(std::string_view proposedName) override;

private:
    std::optional<DialogChoice> show(bool save, std::string_view proposedName);

    std::function<HWND()> owner_;
};

} // namespace p2k
