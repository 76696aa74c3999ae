#include "commands/pc_names.h"

#include "core/cp1251.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace p2k {

namespace {

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool forbiddenOnPc(unsigned char c)
{
    return c < 0x20 || std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string_view::npos;
}

// Windows opens a device for these, whatever the extension, and also with
// blanks before the extension ("nul .txt"); CONIN$ and CONOUT$ are the console.
bool isDeviceName(std::string_view name)
{
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    std::string upper(stem);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (std::find(kPlain.begin(), kPlain.end(), upper) != kPlain.end())
        return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '0'
           && upper[3] <= '9';
}

} // namespace

std::string pcTitleForPhoneName(std::string_view phoneName)
{
    phoneName = phoneName.substr(0, std::min(phoneName.find('\0'), phoneName.size()));
    const std::string_view last = lastPartOf(phoneName);
    std::string raw;
    for (char c : last)
        raw += forbiddenOnPc(static_cast<unsigned char>(c)) ? '_' : c;
    while (!raw.empty() && (raw.back() == '.' || raw.back() == ' '))
        raw.pop_back();
    if (raw.empty())
        return "phone_file";
    if (isDeviceName(raw))
        raw.insert(raw.begin(), '_');
    return cp1251ToUtf8(raw);
}

std::string_view lastPartOf(std::string_view path)
{
    const auto lastSeparator = std::find_if(path.rbegin(), path.rend(), isSeparator);
    return path.substr(static_cast<size_t>(path.rend() - lastSeparator));
}

std::string folderOf(std::string_view path)
{
    const auto lastSeparator = std::find_if(path.rbegin(), path.rend(), isSeparator);
    if (lastSeparator == path.rend())
        return "";
    const size_t end = static_cast<size_t>(path.rend() - lastSeparator) - 1;
    // Keep the root's own separator ("/" or "C:\").
    const bool isRoot = end == 0 || (end == 2 && path[1] == ':');
    return std::string(path.substr(0, isRoot ? end + 1 : end));
}

std::string pathInFolder(std::string_view folder, std::string_view name)
{
    if (folder.empty())
        return std::string(name);
    std::string path(folder);
    if (!isSeparator(path.back()))
        path += folder.find('\\') != std::string_view::npos ? '\\' : '/';
    return path + std::string(name);
}

} // namespace p2k
