#include "cli/console_front_end.h"

#include "commands/pc_names.h"

#include <algorithm>
#include <iostream>
#include <unistd.h>

namespace p2k::cli {

namespace {

constexpr int kBarWidth = 40;

bool onTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) != 0;
}

} // namespace

void StreamLog::append(std::string_view utf8)
{
    // The program's lines end in CR LF; a terminal wants LF.
    std::string text;
    for (char c : utf8) {
        if (c != '\r')
            text += c;
    }
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
}

void ConsoleWindow::setProgressRange(uint32_t low, uint32_t high)
{
    low_ = low;
    high_ = high;
}

void ConsoleWindow::setProgressPosition(uint32_t position)
{
    if (!onTerminal(stderr) || high_ <= low_)
        return;
    const double done = position <= low_ ? 0.0 : std::min(1.0, double(position - low_) / double(high_ - low_));
    const int filled = static_cast<int>(done * kBarWidth);
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(kBarWidth - filled), ' ').c_str(), static_cast<int>(done * 100));
    barShown_ = true;
}

void ConsoleWindow::finishProgress()
{
    if (barShown_)
        std::fputs("\n", stderr);
    barShown_ = false;
}

void ConsoleWindow::showAbout()
{
    log_.append("p2kfm\r\ndesigned for Motorola P2K phones\r\n");
}

bool ConsoleWindow::askYesNo(std::string_view, std::string_view question)
{
    if (assumeYes_)
        return true;
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

void ConsoleList::insertRowAtTop(std::string_view name, std::string_view flags, std::string_view size,
                                 const uint8_t* entry)
{
    rows_.push_front(Row{std::string(name), std::string(flags), std::string(size), entry});
}

void ConsoleList::sortRows(const std::function<int(const uint8_t*, const uint8_t*)>& compare)
{
    std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
        return compare(b.entry, a.entry) > 0 && compare(a.entry, b.entry) <= 0;
    });
}

int ConsoleList::nextSelectedRow(int after)
{
    const auto next = selected_.upper_bound(after);
    return next == selected_.end() ? -1 : *next;
}

std::vector<std::string> ConsoleList::select(const std::vector<std::string>& names)
{
    selected_.clear();
    std::vector<std::string> missing;
    for (const std::string& name : names) {
        bool found = false;
        for (size_t row = 0; row < rows_.size(); ++row) {
            if (rows_[row].name == name) {
                selected_.insert(static_cast<int>(row));
                found = true;
                break;
            }
        }
        if (!found)
            missing.push_back(name);
    }
    return missing;
}

std::optional<DialogChoice> ArgumentDialogs::showOpen()
{
    if (openPath.empty())
        return std::nullopt;
    const size_t cut = openPath.find_last_of("/\\");
    return DialogChoice{openPath, cut == std::string::npos ? openPath : openPath.substr(cut + 1)};
}

std::optional<DialogChoice> ArgumentDialogs::showSave(std::string_view proposedName)
{
    return DialogChoice{pathInFolder(saveFolder, proposedName), std::string(proposedName)};
}

} // namespace p2k::cli
