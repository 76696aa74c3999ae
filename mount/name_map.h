#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace p2k::mount {

// One listed phone file: its raw Windows-1251 name and the list's numbers.
struct PhoneEntry {
    std::string phoneName;
    uint32_t attributes = 0;
    uint32_t size = 0;
};

// The phone's flat list of full names shown as a tree of UTF-8 paths
// ("/a/mobile/x.mid" as /a/mobile/x.mid, "MyToneDB.db" at the top). Paths
// start with '/'; the root is "/".
class NameMap {
public:
    // Maps the entries in list order. Reserved paths (the control file) are
    // never given to a phone file; a file whose path is taken gets a suffix.
    void rebuild(const std::vector<PhoneEntry>& entries, const std::set<std::string>& reserved);

    const PhoneEntry* file(const std::string& path) const;
    bool isFolder(const std::string& path) const { return folders_.contains(path); }
    // The names directly inside folder (files and folders).
    std::vector<std::string> children(const std::string& folder) const;

    // Folders made by mkdir that hold no phone file yet; they last as long
    // as this map.
    void addEmptyFolder(const std::string& path);
    bool removeEmptyFolder(const std::string& path);

private:
    void addFolderChain(const std::string& path);

    std::map<std::string, PhoneEntry> files_;
    std::set<std::string> folders_{"/"};
    std::set<std::string> emptyFolders_;
    std::map<std::string, std::set<std::string>> children_;
};

// The mount path a phone name shows as, before any collision suffix. Bytes
// that have no proper place in a PC name (the unassigned 0x98, control
// characters, '%') show as %XX; "." and ".." parts as %2E; a name with an
// empty part shows whole at the top with its slashes as %2F.
std::string mountPathFor(std::string_view phoneName);

// The phone name for a path made on the mount: the reverse of mountPathFor.
// Empty when the name has a character the phone's code page lacks.
std::optional<std::string> phoneNameFor(std::string_view mountPath);

// The folder part of a path ("/" for a top-level name) and the last part.
std::string parentOf(std::string_view path);
std::string lastPartOf(std::string_view path);

} // namespace p2k::mount
