#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace p2k::cli {

// What p2kfm-cli exits with.
enum ExitCode : int {
    kExitDone = 0,   // everything asked for went through
    kExitFailed = 1, // a phone or PC operation failed
    kExitUsage = 2,  // the command line made no sense; nothing was sent to the phone
};

// The command line, checked: every number is in range and every option
// belongs to the command it was given with.
struct Options {
    bool demo = false;
    std::string demoDir;
    bool trace = false;
    bool tsv = false;
    bool yes = false;
    bool replace = false; // put: may overwrite an existing phone file
    bool help = false;
    std::string to = ".";
    std::string as;
    std::string wait;
    std::string command;
    std::vector<std::string> args;

    // The numbers the arguments stand for.
    uint32_t seemFirst = 0; // seem-get
    uint32_t seemLast = 0;
    uint32_t seem = 0; // seem-put
    uint32_t record = 0;
    uint32_t attributes = 0; // chattr
    uint32_t waitSeconds = 10; // how long a real phone is waited for
};

struct Subcommand {
    const char* name;
    const char* usage;
    const char* help;
    size_t minArgs;
    size_t maxArgs;
    // What the final line says when the command did not go through.
    const char* failure;
};

// The known command of this name; null for another.
const Subcommand* findSubcommand(std::string_view name);

struct ParseResult {
    Options options;
    std::string error; // empty when the command line made sense
};

// argv: the program's name first, UTF-8.
ParseResult parseArguments(const std::vector<std::string>& argv);

// Makes every path argument absolute, so that nothing depends on the
// current directory afterwards (the commands may change it).
void makePathsAbsolute(Options& options);

// The help of the command of that name, or the full help when there is none.
void printUsage(std::FILE* out, std::string_view command);

// The strict number forms of the command line.
std::optional<uint32_t> parseSeemNumber(std::string_view text); // 1 to 4 hex digits, optional 0x
std::optional<uint32_t> parseRecordNumber(std::string_view text); // the same, 1 to 0xfffe
std::optional<uint32_t> parseAttributes(std::string_view text); // decimal or 0x hex, 0 to 65536
std::optional<uint32_t> parseWaitSeconds(std::string_view text); // decimal, 0 to 3600

} // namespace p2k::cli
