// The console's texts: names made harmless for tab-separated lines and for a
// terminal, and the log's open lines.

#include "cli/console_front_end.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace p2k::cli {
namespace {

TEST(ConsoleFrontEndTest, NamesAreEscapedForTheirOutput)
{
    struct Case {
        std::string name, tsv, terminal;
    };
    const Case cases[] = {
        {"/a/plain.mid", "/a/plain.mid", "/a/plain.mid"},
        {"/a/a\tb", "/a/a\\tb", "/a/a\\x09b"},
        {"/a/a\nb", "/a/a\\nb", "/a/a\\x0ab"},
        {"/a/a\\b", "/a/a\\\\b", "/a/a\\b"},
        {"/a/\x1b[2J\x7f", "/a/\x1b[2J\x7f", "/a/\\x1b[2J\\x7f"},
        {"/a/Мелодия", "/a/Мелодия", "/a/Мелодия"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tsvField(c.name), c.tsv) << c.name;
        EXPECT_EQ(escapeControlBytes(c.name, false), c.terminal) << c.name;
    }
    EXPECT_EQ(escapeControlBytes("a\nb\x01\n", true), "a\nb\\x01\n");
}

std::string logged(bool escape, const std::vector<std::string>& texts, bool endLine)
{
    std::FILE* file = std::tmpfile();
    StreamLog log(file, escape);
    for (const std::string& text : texts)
        log.append(text);
    if (endLine)
        log.endLine();
    std::rewind(file);
    std::string out;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        out += static_cast<char>(c);
    std::fclose(file);
    return out;
}

TEST(ConsoleFrontEndTest, TheLogEndsItsOpenLineOnlyWhenOneIsOpen)
{
    EXPECT_EQ(logged(false, {"Закачиваем СИМ N ", "004c", "запись N 0001"}, true),
              "Закачиваем СИМ N 004cзапись N 0001\n");
    EXPECT_EQ(logged(false, {"Done.\r\n"}, true), "Done.\n");
    EXPECT_EQ(logged(false, {"a\r", "b\r\n"}, false), "a\rb\n"); // only CR LF becomes LF
    EXPECT_EQ(logged(true, {"/a/\x1b[2J ok\r\n"}, true), "/a/\\x1b[2J ok\n");
}

} // namespace
} // namespace p2k::cli
