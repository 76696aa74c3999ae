#pragma once

#include "commands/file_list_control.h"

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace p2k {

// The file list without a screen: rows in memory, sorted the way the
// platform's list sorts (a row moves after another only for a positive
// comparison). The command-line tool prints it; tests look into it.
class MemoryFileList : public FileListControl {
public:
    struct Row {
        std::string name; // raw phone bytes
        std::string flags;
        std::string size;
        const uint8_t* entry;
    };

    void deleteAllRows() override { rows.clear(); }
    void insertRowAtTop(std::string_view name, std::string_view flags, std::string_view size,
                        const uint8_t* entry) override;
    void setColumnArrow(int, int) override {}
    void sortRows(const std::function<int(const uint8_t*, const uint8_t*)>& compare) override;
    int nextSelectedRow(int after) override;
    const uint8_t* rowEntry(int index) override { return rows.at(static_cast<size_t>(index)).entry; }

    // Selects the first row of each of these raw names; returns the names
    // not listed.
    std::vector<std::string> select(const std::vector<std::string>& names);

    std::deque<Row> rows;
    std::set<int> selected;
};

} // namespace p2k
