#pragma once

#include "commands/memory_file_list.h"

#include <algorithm>
#include <string>
#include <vector>

namespace p2k::test {

// The in-memory list that also records the sort arrows it is given.
class FakeList : public MemoryFileList {
public:
    void setColumnArrow(int column, int image) override { arrows.push_back({column, image}); }

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

    std::vector<std::pair<int, int>> arrows;
};

} // namespace p2k::test
