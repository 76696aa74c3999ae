// The PC title of an arbitrary phone name: never empty, never "." or "..",
// never a separator or another character PC names forbid, never a device
// name, valid UTF-8, and joined to a folder it stays inside that folder.

#include "commands/pc_names.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace p2k::fuzz {
namespace {

bool forbidden(unsigned char c)
{
    return c < 0x20 || std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string_view::npos;
}

// Windows opens a device for these names whatever follows the first dot,
// and also with blanks before that dot; CONIN$ and CONOUT$ are the console.
bool namesDevice(std::string_view title)
{
    std::string stem(title.substr(0, title.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::toupper(c); });
    static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (std::find(kPlain.begin(), kPlain.end(), stem) != kPlain.end())
        return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT"))
           && std::isdigit(static_cast<unsigned char>(stem[3]));
}

void checkTitle(const std::string& title)
{
    require(!title.empty() && title != "." && title != "..", "a title names a file");
    require(std::none_of(title.begin(), title.end(), [](char c) { return forbidden(static_cast<unsigned char>(c)); }),
            "a title holds no separator or other forbidden character");
    require(title.back() != '.' && title.back() != ' ', "a title does not end in a dot or blank");
    require(!namesDevice(title), "a title never names a device");
    require(isUtf8(title), "a title is UTF-8");
    for (std::string_view folder : {"D:/down", "C:\\Users\\me\\Music", "/"})
        require(folderOf(pathInFolder(folder, title)) == folder, "a title joined to a folder stays in it");
}

} // namespace
} // namespace p2k::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view phoneName(reinterpret_cast<const char*>(data), size);
    p2k::fuzz::checkTitle(p2k::pcTitleForPhoneName(phoneName));
    return 0;
}
