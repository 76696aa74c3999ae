// The command-line parser: what it accepts, with the numbers it makes of it,
// and what it refuses, with the text that names the argument.

#include "cli/cli_arguments.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace p2k::cli {
namespace {

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> argv{"p2kfm-cli"};
    std::istringstream in(line);
    for (std::string word; in >> word;)
        argv.push_back(word == "''" ? "" : word);
    return argv;
}

struct Accepted {
    const char* line;
    uint32_t first, second; // seemFirst/seem, seemLast/record, or attributes first
};

TEST(CliArgumentsTest, NumbersAreTakenInTheirStrictForms)
{
    const Accepted seemGet[] = {
        {"seem-get 4c 4c", 0x4c, 0x4c},     {"seem-get 0x4c 0X4C", 0x4c, 0x4c}, {"seem-get 0 ffff", 0, 0xffff},
        {"seem-get 0000 0300", 0, 0x300},  {"seem-get 0xFFFF ffff", 0xffff, 0xffff},
    };
    for (const Accepted& a : seemGet) {
        const ParseResult r = parseArguments(words(a.line));
        EXPECT_EQ(r.error, "") << a.line;
        EXPECT_EQ(r.options.seemFirst, a.first) << a.line;
        EXPECT_EQ(r.options.seemLast, a.second) << a.line;
    }
    const Accepted seemPut[] = {{"seem-put 4c 1 f", 0x4c, 1}, {"seem-put 0 fffe f", 0, 0xfffe}, {"seem-put 0x4C 0x01 f", 0x4c, 1}};
    for (const Accepted& a : seemPut) {
        const ParseResult r = parseArguments(words(a.line));
        EXPECT_EQ(r.error, "") << a.line;
        EXPECT_EQ(r.options.seem, a.first) << a.line;
        EXPECT_EQ(r.options.record, a.second) << a.line;
    }
    const Accepted chattr[] = {{"chattr 0 n", 0, 0},          {"chattr 65536 n", 65536, 0}, {"chattr 0x10000 n", 65536, 0},
                               {"chattr 0x21 n", 0x21, 0},    {"chattr 021 n", 21, 0},      {"chattr 0X1f n", 0x1f, 0}};
    for (const Accepted& a : chattr) {
        const ParseResult r = parseArguments(words(a.line));
        EXPECT_EQ(r.error, "") << a.line;
        EXPECT_EQ(r.options.attributes, a.first) << a.line;
    }
}

TEST(CliArgumentsTest, OptionsAndArgumentsLandInTheirFields)
{
    ParseResult r = parseArguments(words("--demo-dir d put --replace song.mid --as /a/ --trace"));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.demoDir, "d");
    EXPECT_TRUE(r.options.replace);
    EXPECT_TRUE(r.options.trace);
    EXPECT_EQ(r.options.as, "/a/");
    EXPECT_EQ(r.options.args, std::vector<std::string>{"song.mid"});

    r = parseArguments(words("--demo rm --yes -- --odd -x"));
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.yes);
    EXPECT_EQ(r.options.args, (std::vector<std::string>{"--odd", "-x"}));

    r = parseArguments(words("--demo -- chattr 3 -n"));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.command, "chattr");

    r = parseArguments(words("seem-get --help"));
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(r.options.help);
    EXPECT_EQ(parseArguments(words("--help")).error, "");
    EXPECT_EQ(parseArguments(words("put f --as ''")).error, "");
}

struct Refused {
    const char* line;
    const char* error;
};

TEST(CliArgumentsTest, AnythingElseIsRefusedNamingTheArgument)
{
    const std::string seem = " must be a SEEM number of 1 to 4 hex digits (optional 0x), not ";
    const std::string rec = " must be a record number from 1 to fffe in hex (optional 0x), not ";
    const std::string attr = " must be a number from 0 to 65536 (decimal, or hex with 0x), not ";
    const Refused refused[] = {
        {"seem-put 4c garbage f", "seem-put: REC"},
        {"seem-put 4c 0 f", "seem-put: REC"},
        {"seem-put 4c ffff f", "seem-put: REC"},
        {"seem-put 10000 1 f", "seem-put: SEEM"},
        {"seem-get zz 4c", "seem-get: FROM"},
        {"seem-get 0x 4c", "seem-get: FROM"},
        {"seem-get 4c 10000", "seem-get: TO"},
        {"seem-get 4c 0x0004c", "seem-get: TO"},
        {"chattr abc n", "chattr: VALUE"},
        {"chattr 65537 n", "chattr: VALUE"},
        {"chattr 0x10001 n", "chattr: VALUE"},
        {"chattr '' n", "chattr: VALUE"},
        {"chattr 4294967297 n", "chattr: VALUE"},
    };
    for (const Refused& r : refused) {
        const std::string error = parseArguments(words(r.line)).error;
        EXPECT_TRUE(error.starts_with(r.error)) << r.line << ": " << error;
    }
    EXPECT_EQ(parseArguments(words("seem-put 4c garbage f")).error, "seem-put: REC" + rec + "'garbage'");
    EXPECT_EQ(parseArguments(words("seem-get zz 4c")).error, "seem-get: FROM" + seem + "'zz'");
    EXPECT_EQ(parseArguments(words("chattr abc n")).error, "chattr: VALUE" + attr + "'abc'");
    EXPECT_EQ(parseArguments({"p2kfm-cli", "seem-get", " 4c", "4c"}).error, "seem-get: FROM" + seem + "' 4c'");
}

TEST(CliArgumentsTest, CommandLinesThatMakeNoSenseAreRefused)
{
    const Refused refused[] = {
        {"", "no command given"},
        {"frobnicate", "unknown command frobnicate"},
        {"list --frob", "unknown option --frob"},
        {"chattr -1 n", "unknown option -1"},
        {"seem-get -1 4c", "unknown option -1"},
        {"seem-get 300 4c", "seem-get: FROM 300 is after TO 4c"},
        {"get n --to", "--to needs a value"},
        {"--demo-dir", "--demo-dir needs a value"},
        {"--demo-dir '' list", "--demo-dir needs a value, not an empty text"},
        {"get n --to ''", "--to needs a value, not an empty text"},
        {"get n --to a --to b", "--to is given twice"},
        {"--demo --demo-dir d list", "--demo and --demo-dir cannot be used together"},
        {"list --to d", "list does not take --to"},
        {"get n --tsv", "get does not take --tsv"},
        {"rm n --replace", "rm does not take --replace"},
        {"seem-get 4c", "seem-get: wrong number of arguments"},
        {"volume extra", "volume: wrong number of arguments"},
        {"get 歌.mid", "get: the phone's code page cannot carry the name '歌.mid'"},
    };
    for (const Refused& r : refused)
        EXPECT_EQ(parseArguments(words(r.line)).error, r.error) << r.line;
}

TEST(CliArgumentsTest, UploadPathMustFitTheWindowsField)
{
    const std::string fits(127, 'a');
    EXPECT_EQ(parseArguments({"p2kfm-cli", "put", "f", "--as", fits}).error, "");
    // Cyrillic takes two UTF-8 bytes but one character of the phone's code page.
    std::string cyrillic;
    for (int i = 0; i < 127; ++i)
        cyrillic += "ж";
    EXPECT_EQ(parseArguments({"p2kfm-cli", "put", "f", "--as", cyrillic}).error, "");
    EXPECT_EQ(parseArguments({"p2kfm-cli", "put", "f", "--as", fits + "a"}).error,
              "put: --as has 128 characters; the upload path holds at most 127");
    EXPECT_EQ(parseArguments({"p2kfm-cli", "put", "f", "--as", "/a/歌"}).error,
              "put: the phone's code page cannot carry --as '/a/歌'");
}

TEST(CliArgumentsTest, PathsBecomeAbsoluteOnce)
{
    ParseResult r = parseArguments(words("--demo-dir ph seem-put 4c 1 rec.seem"));
    ASSERT_EQ(r.error, "");
    makePathsAbsolute(r.options);
    const std::string here = std::filesystem::current_path().string();
    EXPECT_EQ(r.options.demoDir, here + "/ph");
    EXPECT_EQ(r.options.args[2], here + "/rec.seem");
    EXPECT_EQ(r.options.to, here);

    r = parseArguments(words("get n --to ../x/./y/"));
    makePathsAbsolute(r.options);
    EXPECT_EQ(r.options.to, std::filesystem::current_path().parent_path().string() + "/x/y");
    EXPECT_EQ(r.options.args[0], "n"); // phone names stay as they are
}

} // namespace
} // namespace p2k::cli
