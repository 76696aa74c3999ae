#include "cli/console_front_end.h"

#include "app/window_logic.h"
#include "commands/pc_names.h"

#include <algorithm>
#include <iostream>
#include <unistd.h>

namespace p2k::cli {

namespace {

constexpr int kBarWidth = 40;

bool isControlByte(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

} // namespace

bool onTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) != 0;
}

std::string escapeControlBytes(std::string_view text, bool keepLineFeeds)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if (isControlByte(c) && !(keepLineFeeds && c == '\n')) {
            out += "\\x";
            out += kDigits[c >> 4];
            out += kDigits[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string tsvField(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

void StreamLog::append(std::string_view utf8)
{
    // The program's lines end in CR LF; a terminal wants LF.
    std::string text;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '\r' || i + 1 == utf8.size() || utf8[i + 1] != '\n')
            text += utf8[i];
    }
    if (escapeControls_)
        text = escapeControlBytes(text, true);
    if (!text.empty())
        lineOpen_ = text.back() != '\n';
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
}

void StreamLog::endLine()
{
    if (lineOpen_)
        append("\n");
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

void WaitStatus::show(uint32_t leftMs)
{
    if (!onTerminal(stderr))
        return;
    std::fprintf(stderr, "\rp2kfm-cli: waiting for the phone, %u s left ", (leftMs + 999) / 1000);
    shown_ = true;
}

void WaitStatus::end()
{
    if (shown_)
        std::fputs("\r\033[K", stderr);
    shown_ = false;
}

void ConsoleWindow::finishProgress()
{
    if (barShown_)
        std::fputs("\n", stderr);
    barShown_ = false;
}

void ConsoleWindow::showAbout()
{
    log_.append(aboutText() + "\r\n");
}

bool ConsoleWindow::askYesNo(std::string_view, std::string_view question, DefaultButton)
{
    if (assumeYes_)
        return true;
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::cerr << "\n"; // no answer: the question's line still wants its end
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

std::optional<DialogChoice> ArgumentDialogs::showOpen()
{
    if (openPath.empty())
        return std::nullopt;
    return DialogChoice{openPath, std::string(lastPartOf(openPath))};
}

std::optional<DialogChoice> ArgumentDialogs::showSave(std::string_view proposedName)
{
    return DialogChoice{pathInFolder(saveFolder, proposedName), std::string(proposedName)};
}

} // namespace p2k::cli
