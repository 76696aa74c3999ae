#include "commands/memory_file_list.h"

#include <algorithm>

namespace p2k {

void MemoryFileList::insertRowAtTop(std::string_view name, std::string_view flags, std::string_view size,
                                    const uint8_t* entry)
{
    rows.push_front(Row{std::string(name), std::string(flags), std::string(size), entry});
}

void MemoryFileList::sortRows(const std::function<int(const uint8_t*, const uint8_t*)>& compare)
{
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        return compare(b.entry, a.entry) > 0 && compare(a.entry, b.entry) <= 0;
    });
}

int MemoryFileList::nextSelectedRow(int after)
{
    const auto next = selected.upper_bound(after);
    return next != selected.end() && *next < static_cast<int>(rows.size()) ? *next : -1;
}

std::vector<std::string> MemoryFileList::select(const std::vector<std::string>& names)
{
    selected.clear();
    std::vector<std::string> missing;
    for (const std::string& name : names) {
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.name == name; });
        if (row == rows.end())
            missing.push_back(name);
        else
            selected.insert(static_cast<int>(row - rows.begin()));
    }
    return missing;
}

} // namespace p2k
