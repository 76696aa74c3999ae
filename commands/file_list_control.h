#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace p2k {

// The list control 1008 as the file commands see it. Each row refers to its
// entry in the fetched list buffer (the row's item data).
class FileListControl {
public:
    virtual ~FileListControl() = default;

    virtual void deleteAllRows() = 0;
    // Inserts a row at index 0. name: the phone's raw Windows-1251 bytes.
    virtual void insertRowAtTop(std::string_view name, std::string_view flags, std::string_view size,
                                const uint8_t* entry) = 0;
    // Rows are about to be inserted in bulk, or the bulk insert has ended.
    virtual void beginFill() {}
    virtual void endFill() {}

    // Shows the sort arrow image (0 up, 1 down) right of a column's caption,
    // or plain text again with image -1.
    virtual void setColumnArrow(int column, int image) = 0;
    // Sorts the rows: compare(first, second) > 0 moves first after second.
    virtual void sortRows(const std::function<int(const uint8_t*, const uint8_t*)>& compare) = 0;

    // The next selected row after index (-1: from the top); -1 when none.
    virtual int nextSelectedRow(int after) = 0;
    virtual const uint8_t* rowEntry(int index) = 0;
};

} // namespace p2k
