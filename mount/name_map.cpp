#include "mount/name_map.h"

#include "core/cp1251.h"

namespace p2k::mount {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned char kUnassignedByte = 0x98;

bool needsEscape(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7F || byte == kUnassignedByte || byte == '%';
}

std::string escapedByte(unsigned char byte)
{
    return {'%', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
}

// One part of a name, in UTF-8, with the bytes that cannot show escaped.
std::string shownPart(std::string_view part, bool escapeSlashes)
{
    const bool dots = part == "." || part == "..";
    std::string raw;
    for (char c : part) {
        const auto byte = static_cast<unsigned char>(c);
        if (dots || needsEscape(byte) || (escapeSlashes && byte == '/'))
            raw += escapedByte(byte);
        else
            raw += c;
    }
    return cp1251ToUtf8(raw);
}

std::vector<std::string_view> partsOf(std::string_view name)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t slash = name.find('/'); slash != std::string_view::npos; slash = name.find('/', start)) {
        parts.push_back(name.substr(start, slash - start));
        start = slash + 1;
    }
    parts.push_back(name.substr(start));
    return parts;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "name (n).ext": the suffix goes before the extension, so the type stays.
std::string withSuffix(const std::string& path, int n)
{
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const size_t at = dot != std::string::npos && dot > slash + 1 ? dot : path.size();
    return path.substr(0, at) + " (" + std::to_string(n) + ")" + path.substr(at);
}

} // namespace

std::string parentOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string_view::npos ? "/" : std::string(path.substr(0, slash));
}

std::string lastPartOf(std::string_view path)
{
    return std::string(path.substr(path.rfind('/') + 1));
}

std::string mountPathFor(std::string_view phoneName)
{
    const std::string_view relative = phoneName.starts_with('/') ? phoneName.substr(1) : phoneName;
    const std::vector<std::string_view> parts = partsOf(relative);
    std::string path;
    for (std::string_view part : parts) {
        if (part.empty())
            return "/" + shownPart(phoneName, true);
        path += "/" + shownPart(part, false);
    }
    return path;
}

std::optional<std::string> phoneNameFor(std::string_view mountPath)
{
    std::string name;
    std::string run; // UTF-8 text waiting for conversion
    auto flushRun = [&] {
        const std::optional<std::string> converted = utf8ToCp1251(run);
        run.clear();
        if (!converted)
            return false;
        name += *converted;
        return true;
    };
    for (size_t i = 0; i < mountPath.size(); ++i) {
        const int high = i + 2 < mountPath.size() ? hexValue(mountPath[i + 1]) : -1;
        const int low = i + 2 < mountPath.size() ? hexValue(mountPath[i + 2]) : -1;
        if (mountPath[i] == '%' && high >= 0 && low >= 0) {
            if (!flushRun())
                return std::nullopt;
            name += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            run += mountPath[i];
        }
    }
    if (!flushRun())
        return std::nullopt;
    // A top-level file keeps no slash, as the phone's own top-level names.
    if (mountPath.find('/', 1) == std::string_view::npos && name.starts_with('/'))
        name.erase(0, 1);
    return name;
}

void NameMap::addFolderChain(const std::string& path)
{
    for (std::string folder = path; folders_.insert(folder).second;) {
        const std::string parent = parentOf(folder);
        children_[parent].insert(lastPartOf(folder));
        folder = parent;
    }
}

void NameMap::rebuild(const std::vector<PhoneEntry>& entries, const std::set<std::string>& reserved)
{
    files_.clear();
    folders_ = {"/"};
    children_.clear();
    std::vector<std::string> paths;
    for (const PhoneEntry& entry : entries) {
        paths.push_back(mountPathFor(entry.phoneName));
        addFolderChain(parentOf(paths.back()));
    }
    for (const std::string& folder : emptyFolders_)
        addFolderChain(folder);
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string path = paths[i];
        for (int n = 2; files_.contains(path) || folders_.contains(path) || reserved.contains(path); ++n)
            path = withSuffix(paths[i], n);
        files_.emplace(path, entries[i]);
        children_[parentOf(path)].insert(lastPartOf(path));
    }
}

const PhoneEntry* NameMap::file(const std::string& path) const
{
    const auto it = files_.find(path);
    return it == files_.end() ? nullptr : &it->second;
}

std::vector<std::string> NameMap::children(const std::string& folder) const
{
    const auto it = children_.find(folder);
    return it == children_.end() ? std::vector<std::string>{}
                                 : std::vector<std::string>(it->second.begin(), it->second.end());
}

void NameMap::addEmptyFolder(const std::string& path)
{
    emptyFolders_.insert(path);
    addFolderChain(path);
}

bool NameMap::removeEmptyFolder(const std::string& path)
{
    const auto it = children_.find(path);
    if (it != children_.end() && !it->second.empty())
        return false;
    emptyFolders_.erase(path);
    folders_.erase(path);
    children_.erase(path);
    children_[parentOf(path)].erase(lastPartOf(path));
    return true;
}

} // namespace p2k::mount
