#pragma once

#include "core/main_window.h"
#include "core/operator_log.h"
#include "commands/file_list_control.h"
#include "services/phone_file_system.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

namespace p2k {

// The phone's files in the list control: fetch, decode in place, show, sort,
// and look up by name.
class FileListView {
public:
    static constexpr uint32_t kNotFound = 0xFFFFFFFF;

    FileListView(PhoneFileSystem& fileSystem, OperatorLog& log, FileListControl& control)
        : fileSystem_(fileSystem), log_(log), control_(control) {}

    // False when the list could not be fetched (the window shows no rows).
    bool refreshFileList(MainWindow& window);
    void showVolumeInfo();

    // Values of the first listed entry with that raw name; kNotFound when
    // none has it or no list has been shown.
    uint32_t lookupFileSize(std::string_view name);
    uint32_t lookupFileFlags(std::string_view name);

    // A click on a column header.
    void sortByColumn(int column);
    // 1 when the first row belongs after the second in the current direction.
    int compareRows(const uint8_t* first, const uint8_t* second, int column) const;

    // Fields of a decoded entry.
    std::string_view entryName(const uint8_t* entry) const;
    uint32_t entryFlags(const uint8_t* entry) const;
    uint32_t entrySize(const uint8_t* entry) const;

    uint8_t sortDirection() const { return sortDirection_; }

private:
    using EntryVisitor = std::function<bool(uint8_t* entry)>; // false ends the walk
    uint32_t walkEntries(const EntryVisitor& visit);
    void decodeInPlace(uint8_t* entry) const;
    size_t nameField() const;
    const uint8_t* findEntry(std::string_view name);

    PhoneFileSystem& fileSystem_;
    OperatorLog& log_;
    FileListControl& control_;
    bool decoded_ = false;
    int sortColumn_ = 0;
    uint8_t sortDirection_ = 0;
    std::array<uint8_t, PhoneFileSystem::kVolumeNameSize> volumeName_{};
};

} // namespace p2k
