#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace p2k {

// What the operator picked in an open or save dialog.
struct DialogChoice {
    std::string path;  // full path, UTF-8
    std::string title; // the file's name without its folder
};

// The system's open and save dialogs, owned by the main window, with one
// filter ("Все файлы", "*.*") and no options. Empty when cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual std::optional<DialogChoice> showOpen() = 0;
    virtual std::optional<DialogChoice> showSave(std::string_view proposedName) = 0;
};

} // namespace p2k
