#pragma once

#include "commands/file_list_control.h"

#include <algorithm>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace p2k::test {

// The list control without a screen, sorting the way the platform's list
// does: a row moves after another only for a positive comparison.
class FakeList : public FileListControl {
public:
    struct Row {
        std::string name;
        std::string flags;
        std::string size;
        const uint8_t* entry;
    };

    void deleteAllRows() override { rows.clear(); }
    void insertRowAtTop(std::string_view name, std::string_view flags, std::string_view size,
                        const uint8_t* entry) override
    {
        rows.push_front(Row{std::string(name), std::string(flags), std::string(size), entry});
    }
    void setColumnArrow(int column, int image) override { arrows.push_back({column, image}); }
    void sortRows(const std::function<int(const uint8_t*, const uint8_t*)>& compare) override
    {
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
            return compare(b.entry, a.entry) > 0 && compare(a.entry, b.entry) <= 0;
        });
    }
    int nextSelectedRow(int after) override
    {
        for (int index : selected) {
            if (index > after && index < static_cast<int>(rows.size()))
                return index;
        }
        return -1;
    }
    const uint8_t* rowEntry(int index) override { return rows.at(static_cast<size_t>(index)).entry; }

    // Selects exactly the rows with these names, as the operator would.
    void selectNamed(const std::vector<std::string>& wanted)
    {
        selected.clear();
        for (size_t row = 0; row < rows.size(); ++row) {
            if (std::find(wanted.begin(), wanted.end(), rows[row].name) != wanted.end())
                selected.insert(static_cast<int>(row));
        }
    }

    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (const Row& row : rows)
            out.push_back(row.name);
        return out;
    }

    std::deque<Row> rows;
    std::vector<std::pair<int, int>> arrows;
    std::set<int> selected;
};

} // namespace p2k::test
