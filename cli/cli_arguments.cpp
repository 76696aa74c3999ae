#include "cli/cli_arguments.h"

#include "core/cp1251.h"
#include "commands/file_transfer.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace p2k::cli {

namespace {

constexpr uint32_t kLargestSeem = 0xFFFF;
constexpr uint32_t kLargestRecord = 0xFFFE;
constexpr uint32_t kLargestAttributes = 65536;
constexpr size_t kMaxHexDigits = 4;

constexpr Subcommand kSubcommands[] = {
    {"list", "list [--tsv]", "Lists the phone's files; --tsv prints name, flags (hex) and size per line.", 0, 0,
     "the file list could not be read"},
    {"get", "get NAME... [--to DIR]", "Copies phone files into DIR (default: here); never overwrites.", 1, SIZE_MAX,
     "not every file was copied to the PC"},
    {"put", "put FILE [--as PREFIX] [--replace]",
     "Copies FILE to the phone as PREFIX followed by its name; a file of that name is replaced only with --replace.", 1,
     1,
     "the file was not copied to the phone"},
    {"rm", "rm NAME... [--yes]", "Deletes phone files, asking for each unless --yes.", 1, SIZE_MAX,
     "not every file was deleted"},
    {"chattr", "chattr VALUE NAME...",
     "Gives phone files the attributes VALUE (decimal, or hex with 0x; 0 to 65536).", 2, SIZE_MAX,
     "not every file got the new attributes"},
    {"volume", "volume", "Shows the volume name and its free space.", 0, 0, "the volume could not be read"},
    {"seem-get", "seem-get FROM TO [--to DIR]",
     "Saves the records of SEEMs FROM..TO (hex) as ssss_rrrr.seem files in DIR (default: here).", 2, 2,
     "not every SEEM record was saved"},
    {"seem-put", "seem-put SEEM REC FILE", "Writes record REC (hex, 1 to fffe) of SEEM (hex) from FILE.", 3, 3,
     "the SEEM record was not written"},
    {"restart", "restart", "Restarts the phone.", 0, 0, "the phone did not take the restart"},
    {"suspend", "suspend", "Puts the phone to sleep.", 0, 0, "the phone did not take the suspend"},
    {"update-ringtones", "update-ringtones", "Patches the profiles, deletes MyToneDB.db and restarts.", 0, 0,
     "the ringtone update did not go through"},
};

// An option: a flag, or one that takes the next argument as its value.
// takenBy lists the commands it belongs to; null for every command.
struct OptionRule {
    const char* name;
    bool Options::*flag;
    std::string Options::*value;
    const char* takenBy;
};

constexpr OptionRule kOptions[] = {
    {"--demo", &Options::demo, nullptr, nullptr},
    {"--demo-dir", nullptr, &Options::demoDir, nullptr},
    {"--trace", &Options::trace, nullptr, nullptr},
    {"--wait", nullptr, &Options::wait, nullptr},
    {"--help", &Options::help, nullptr, nullptr},
    {"-h", &Options::help, nullptr, nullptr},
    {"--tsv", &Options::tsv, nullptr, "list"},
    {"--to", nullptr, &Options::to, "get seem-get"},
    {"--as", nullptr, &Options::as, "put"},
    {"--replace", &Options::replace, nullptr, "put"},
    {"--yes", &Options::yes, nullptr, "rm"},
};

const OptionRule* findOption(std::string_view name)
{
    const auto found = std::find_if(std::begin(kOptions), std::end(kOptions),
                                    [&](const OptionRule& option) { return name == option.name; });
    return found == std::end(kOptions) ? nullptr : found;
}

bool takes(const OptionRule& option, std::string_view command)
{
    if (option.takenBy == nullptr)
        return true;
    std::string_view list = option.takenBy;
    while (!list.empty()) {
        const size_t blank = std::min(list.find(' '), list.size());
        if (list.substr(0, blank) == command)
            return true;
        list.remove_prefix(std::min(blank + 1, list.size()));
    }
    return false;
}

std::optional<uint32_t> digits(std::string_view text, int base, size_t maxDigits)
{
    uint32_t value = 0;
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (problem != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool dropHexPrefix(std::string_view& text)
{
    if (!text.starts_with("0x") && !text.starts_with("0X"))
        return false;
    text.remove_prefix(2);
    return true;
}

std::string inQuotes(std::string_view text)
{
    std::string out(1, '\'');
    out.append(text);
    out += '\'';
    return out;
}

// The next command-line word, given to an option as its value.
class Words {
public:
    explicit Words(const std::vector<std::string>& argv) : argv_(argv) {}
    bool more() const { return next_ < argv_.size(); }
    const std::string& take() { return argv_[next_++]; }

private:
    const std::vector<std::string>& argv_;
    size_t next_ = 1;
};

class Parser {
public:
    explicit Parser(const std::vector<std::string>& argv) : words_(argv) {}

    ParseResult run()
    {
        bool optionsEnded = false;
        while (words_.more()) {
            const std::string& word = words_.take();
            if (!optionsEnded && word == "--")
                optionsEnded = true;
            else if (!optionsEnded && word.size() > 1 && word[0] == '-')
                option(word);
            else if (result_.options.command.empty())
                result_.options.command = word;
            else
                result_.options.args.push_back(word);
        }
        if (result_.error.empty())
            checkCommand();
        return std::move(result_);
    }

private:
    void fail(std::string text)
    {
        if (result_.error.empty())
            result_.error = std::move(text);
    }

    void option(const std::string& word)
    {
        const OptionRule* known = findOption(word);
        if (!known)
            return fail("unknown option " + word);
        given_.push_back(known);
        if (known->flag) {
            result_.options.*(known->flag) = true;
            return;
        }
        if (!words_.more())
            return fail(word + " needs a value");
        if (std::find(given_.begin(), given_.end() - 1, known) != given_.end() - 1)
            fail(word + " is given twice");
        result_.options.*(known->value) = words_.take();
        if (result_.options.*(known->value) == "" && word != "--as")
            fail(word + " needs a value, not an empty text");
    }

    void checkCommand()
    {
        Options& o = result_.options;
        if (o.command.empty()) {
            if (!o.help)
                fail("no command given");
            return;
        }
        const Subcommand* command = findSubcommand(o.command);
        if (!command)
            return fail("unknown command " + o.command);
        if (o.demo && !o.demoDir.empty())
            return fail("--demo and --demo-dir cannot be used together");
        for (const OptionRule* known : given_) {
            if (!takes(*known, o.command))
                return fail(o.command + " does not take " + known->name);
        }
        if (o.help)
            return;
        if (o.args.size() < command->minArgs || o.args.size() > command->maxArgs)
            return fail(o.command + ": wrong number of arguments");
        checkArguments();
    }

    void checkArguments()
    {
        Options& o = result_.options;
        if (!o.wait.empty())
            number(parseWaitSeconds, o.wait, "--wait", kWaitForm, o.waitSeconds);
        if (o.command == "seem-get") {
            number(parseSeemNumber, o.args[0], "FROM", kSeemForm, o.seemFirst);
            number(parseSeemNumber, o.args[1], "TO", kSeemForm, o.seemLast);
            if (result_.error.empty() && o.seemFirst > o.seemLast)
                fail("seem-get: FROM " + o.args[0] + " is after TO " + o.args[1]);
        } else if (o.command == "seem-put") {
            number(parseSeemNumber, o.args[0], "SEEM", kSeemForm, o.seem);
            number(parseRecordNumber, o.args[1], "REC", kRecordForm, o.record);
        } else if (o.command == "chattr") {
            number(parseAttributes, o.args[0], "VALUE", kAttributesForm, o.attributes);
            phoneNames({o.args.begin() + 1, o.args.end()});
        } else if (o.command == "get" || o.command == "rm") {
            phoneNames(o.args);
        } else if (o.command == "put") {
            uploadPath();
        }
    }

    static constexpr const char* kSeemForm = "a SEEM number of 1 to 4 hex digits (optional 0x)";
    static constexpr const char* kRecordForm = "a record number from 1 to fffe in hex (optional 0x)";
    static constexpr const char* kAttributesForm = "a number from 0 to 65536 (decimal, or hex with 0x)";
    static constexpr const char* kWaitForm = "whole seconds from 0 to 3600";

    void number(std::optional<uint32_t> (*parse)(std::string_view), const std::string& text, const char* name,
                const char* form, uint32_t& into)
    {
        const std::optional<uint32_t> value = parse(text);
        if (!value)
            return fail(result_.options.command + ": " + name + " must be " + form + ", not " + inQuotes(text));
        into = *value;
    }

    // Phone names travel in the phone's code page.
    void phoneNames(const std::vector<std::string>& names)
    {
        for (const std::string& name : names) {
            if (!utf8ToCp1251(name))
                return fail(result_.options.command + ": the phone's code page cannot carry the name " + inQuotes(name));
        }
    }

    // The window's upload path field holds no more; a longer one would be cut.
    void uploadPath()
    {
        const std::optional<std::string> path = utf8ToCp1251(result_.options.as);
        if (!path)
            return fail("put: the phone's code page cannot carry --as " + inQuotes(result_.options.as));
        if (path->size() > kUploadPathChars) {
            fail("put: --as has " + std::to_string(path->size()) + " characters; the upload path holds at most "
                 + std::to_string(kUploadPathChars));
        }
    }

    Words words_;
    ParseResult result_;
    std::vector<const OptionRule*> given_;
};

std::string absolute(const std::string& utf8Path)
{
    namespace fs = std::filesystem;
    fs::path path = fs::absolute(fs::u8path(utf8Path)).lexically_normal();
    // "dir/." normalises to "dir/"; the folder is wanted without the separator.
    if (!path.has_filename() && path.has_relative_path())
        path = path.parent_path();
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

const Subcommand* findSubcommand(std::string_view name)
{
    const auto found = std::find_if(std::begin(kSubcommands), std::end(kSubcommands),
                                    [&](const Subcommand& command) { return name == command.name; });
    return found == std::end(kSubcommands) ? nullptr : found;
}

ParseResult parseArguments(const std::vector<std::string>& argv)
{
    return Parser(argv).run();
}

void makePathsAbsolute(Options& options)
{
    options.to = absolute(options.to);
    if (!options.demoDir.empty())
        options.demoDir = absolute(options.demoDir);
    if (options.command == "put")
        options.args[0] = absolute(options.args[0]);
    if (options.command == "seem-put")
        options.args[2] = absolute(options.args[2]);
}

std::optional<uint32_t> parseSeemNumber(std::string_view text)
{
    dropHexPrefix(text);
    return digits(text, 16, kMaxHexDigits);
}

std::optional<uint32_t> parseRecordNumber(std::string_view text)
{
    const std::optional<uint32_t> record = parseSeemNumber(text);
    if (!record || *record == 0 || *record > kLargestRecord)
        return std::nullopt;
    return record;
}

std::optional<uint32_t> parseWaitSeconds(std::string_view text)
{
    constexpr uint32_t kMaxWaitSeconds = 3600;
    const std::optional<uint32_t> seconds = digits(text, 10, 4);
    return seconds && *seconds <= kMaxWaitSeconds ? seconds : std::nullopt;
}

std::optional<uint32_t> parseAttributes(std::string_view text)
{
    // Long enough for 0x10000 and 65536 with leading zeros, short enough never to overflow.
    constexpr size_t kMaxDigits = 9;
    const std::optional<uint32_t> value = dropHexPrefix(text) ? digits(text, 16, kMaxDigits)
                                                              : digits(text, 10, kMaxDigits);
    if (!value || *value > kLargestAttributes)
        return std::nullopt;
    return value;
}

void printUsage(std::FILE* out, std::string_view commandName)
{
    if (const Subcommand* command = findSubcommand(commandName)) {
        std::fprintf(out, "usage: p2kfm-cli [--demo | --demo-dir DIR] [--trace] %s\n  %s\n", command->usage,
                     command->help);
        return;
    }
    std::fputs("usage: p2kfm-cli [--demo | --demo-dir DIR] [--trace] [--wait SECONDS] COMMAND [ARGS] [--] [ARGS]\n\n"
               "  --demo          use the built-in demo phone (in memory)\n"
               "  --demo-dir DIR  use a demo phone kept in DIR between runs\n"
               "  --trace         print every USB control transfer in hex on standard error\n"
               "  --wait SECONDS  wait up to SECONDS for a real phone (default 10; 0: look once)\n"
               "  --              ends the options: what follows are arguments\n\n"
               "commands:\n",
               out);
    for (const Subcommand& command : kSubcommands)
        std::fprintf(out, "  %-34s %s\n", command.usage, command.help);
    std::fputs("\nexit status: 0 everything went through, 1 a phone or PC operation failed,\n"
               "2 the command line was refused (nothing was sent to the phone).\n"
               "'p2kfm-cli COMMAND --help' shows one command.\n",
               out);
}

} // namespace p2k::cli
