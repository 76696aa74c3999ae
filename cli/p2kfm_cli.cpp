// p2kfm-cli: the program's commands from a shell, on a real phone or on the
// demo phone. It prints the program's own log texts as they happen and exits
// 0 when the command went through, 1 when it did not.

#include "core/cp1251.h"
#include "app/phone_commands.h"
#include "cli/console_front_end.h"
#include "cli/cli_platform.h"
#include "commands/memory_file_list.h"
#include "link/test_command_channel.h"
#include "link/tracing_transport.h"
#include "sim/demo_folder.h"
#include "sim/demo_phone.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace p2k::cli {
namespace {

// Ctrl-C asks the running command to stop between two requests; a second
// Ctrl-C ends the tool at once.
std::atomic<bool> interruptRequested{false};

void onInterrupt(int)
{
    interruptRequested.store(true);
    std::signal(SIGINT, SIG_DFL);
}

struct Options {
    bool demo = false;
    std::string demoDir;
    bool trace = false;
    bool tsv = false;
    bool yes = false;
    bool help = false;
    std::string to = ".";
    std::string as;
    std::string command;
    std::vector<std::string> args;
};

struct Subcommand {
    const char* usage;
    const char* help;
    size_t minArgs;
    size_t maxArgs;
};

const std::map<std::string, Subcommand> kSubcommands = {
    {"list", {"list [--tsv]", "Lists the phone's files; --tsv prints name, flags (hex) and size per line.", 0, 0}},
    {"get", {"get NAME... [--to DIR]", "Copies phone files into DIR (default: here); never overwrites.", 1, 9999}},
    {"put", {"put FILE [--as PREFIX]", "Copies FILE to the phone as PREFIX followed by its name.", 1, 1}},
    {"rm", {"rm NAME... [--yes]", "Deletes phone files, asking for each unless --yes.", 1, 9999}},
    {"chattr", {"chattr VALUE NAME...", "Gives phone files the attributes VALUE (decimal, at most 65536).", 2, 9999}},
    {"volume", {"volume", "Shows the volume name and its free space.", 0, 0}},
    {"seem-get", {"seem-get FROM TO [--to DIR]", "Saves SEEM records FROM..TO (hex) as ssss_rrrr.seem files.", 2, 2}},
    {"seem-put", {"seem-put SEEM REC FILE", "Writes SEEM record REC of SEEM (hex) from FILE.", 3, 3}},
    {"restart", {"restart", "Restarts the phone.", 0, 0}},
    {"suspend", {"suspend", "Puts the phone to sleep.", 0, 0}},
    {"update-ringtones", {"update-ringtones", "Patches the profiles, deletes MyToneDB.db and restarts.", 0, 0}},
};

void printUsage(std::FILE* out)
{
    std::fputs("usage: p2kfm-cli [--demo | --demo-dir DIR] [--trace] COMMAND [ARGS]\n\n"
               "  --demo          use the built-in demo phone (in memory)\n"
               "  --demo-dir DIR  use a demo phone kept in DIR between runs\n"
               "  --trace         print every USB control transfer in hex on standard error\n\n"
               "commands:\n",
               out);
    for (const auto& [name, sub] : kSubcommands)
        std::fprintf(out, "  %-28s %s\n", sub.usage, sub.help);
    std::fputs("\n'p2kfm-cli COMMAND --help' shows one command.\n", out);
}

// Parses the command line; false (with a message) when it makes no sense.
bool parse(const std::vector<std::string>& argv, Options& options)
{
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argv.size())
                return false;
            into = argv[++i];
            return true;
        };
        if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--demo-dir") {
            if (!value(options.demoDir))
                return false;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--tsv") {
            options.tsv = true;
        } else if (arg == "--yes") {
            options.yes = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--to") {
            if (!value(options.to))
                return false;
        } else if (arg == "--as") {
            if (!value(options.as))
                return false;
        } else if (arg.starts_with("--")) {
            std::cerr << "p2kfm-cli: unknown option " << arg << "\n";
            return false;
        } else if (options.command.empty()) {
            options.command = arg;
        } else {
            options.args.push_back(arg);
        }
    }
    return true;
}

// Phone names on the command line are UTF-8; the phone wants its code page.
bool phoneNames(const std::vector<std::string>& utf8Names, std::vector<std::string>& names)
{
    for (const std::string& name : utf8Names) {
        const std::optional<std::string> converted = utf8ToCp1251(name);
        if (!converted) {
            std::cerr << "p2kfm-cli: " << name << ": the phone's code page cannot carry this name\n";
            return false;
        }
        names.push_back(*converted);
    }
    return true;
}

// The phone the command talks to, and whatever keeps it alive.
class PhoneConnection {
public:
    PhoneConnection(const Options& options, OperatorLog& log) : options_(options), log_(log) {}

    std::unique_ptr<UsbTransport> open()
    {
        if (!options_.demoDir.empty()) {
            std::string error;
            phone_ = sim::openDemoFolder(cliClock(), options_.demoDir, error);
            if (!phone_)
                std::cerr << "p2kfm-cli: " << error << "\n";
            return phone_ ? phone_->open() : nullptr;
        }
        if (options_.demo) {
            phone_ = sim::makeDemoPhone(cliClock());
            return phone_->open();
        }
        return openRealPhone();
    }

    // Keeps what the command changed on a demo phone in its folder.
    bool save()
    {
        if (options_.demoDir.empty() || !phone_)
            return true;
        std::string error;
        if (sim::saveDemoFolder(*phone_, options_.demoDir, error))
            return true;
        std::cerr << "p2kfm-cli: " << error << "\n";
        return false;
    }

private:
    std::unique_ptr<UsbTransport> openRealPhone()
    {
        platform_ = makeCliPlatform(log_, cliClock());
        std::string port;
        if (platform_->findModemPort(port) == 0) {
            platform_->switchToCommandMode(port);
            cliClock().sleepMs(kAfterModemSwitchMs);
        }
        return platform_->findPhone().device;
    }

    const Options& options_;
    OperatorLog& log_;
    std::unique_ptr<sim::SimulatedPhone> phone_;
    std::unique_ptr<PhonePlatform> platform_;
};

class Tool {
public:
    explicit Tool(const Options& options)
        : options_(options), logStream_(options.tsv ? stderr : stdout), window_(logStream_, options.yes),
          log_(&logStream_), connection_(options, log_), channel_(link_, log_, cliClock()),
          commands_(channel_, log_, cliClock(), {window_, list_, dialogs_, pcFiles_, autoRefresh_})
    {
        dialogs_.saveFolder = options.to;
        commands_.fileSystem().setInterruptFlag(&interruptRequested);
    }

    int run()
    {
        std::unique_ptr<UsbTransport> device = connection_.open();
        if (!device) {
            log_.appendLog("Тело не в коннекте\r\n");
            return 1;
        }
        if (options_.trace) {
            device = std::make_unique<TracingTransport>(
                std::move(device), [](const std::string& line) { std::cerr << line << "\n"; });
        }
        link_.attach(std::move(device));
        std::signal(SIGINT, onInterrupt);
        const bool ok = runCommand();
        channel_.reportInterrupted();
        window_.finishProgress();
        if (interruptRequested.load())
            std::cerr << "p2kfm-cli: interrupted\n";
        link_.release();
        return connection_.save() && ok ? 0 : 1;
    }

private:
    bool refresh() { return commands_.listView().refreshFileList(window_); }

    bool selectNamed(const std::vector<std::string>& utf8Names)
    {
        std::vector<std::string> names;
        if (!phoneNames(utf8Names, names) || !refresh())
            return false;
        const std::vector<std::string> missing = list_.select(names);
        for (const std::string& name : missing)
            std::cerr << "p2kfm-cli: " << cp1251ToUtf8(name) << ": no such file on the phone\n";
        return missing.empty();
    }

    bool list()
    {
        if (!refresh())
            return false;
        for (const MemoryFileList::Row& row : list_.rows) {
            const std::string name = cp1251ToUtf8(row.name);
            if (options_.tsv)
                std::printf("%s\t%s\t%s\n", name.c_str(), row.flags.c_str(), row.size.c_str());
            else
                std::printf("%10s %8s  %s\n", row.size.c_str(), row.flags.c_str(), name.c_str());
        }
        return true;
    }

    bool put()
    {
        dialogs_.openPath = options_.args[0];
        window_.setFieldText(control::kUploadPath, options_.as);
        return refresh() && commands_.files().uploadFile();
    }

    bool chattr()
    {
        window_.setFieldText(control::kAttributes, options_.args[0]);
        return selectNamed({options_.args.begin() + 1, options_.args.end()}) && commands_.files().changeAttributes();
    }

    bool seemGet()
    {
        window_.setFieldText(control::kSeemRangeStart, options_.args[0]);
        window_.setFieldText(control::kSeemRangeEnd, options_.args[1]);
        return commands_.seem().downloadSeemRange();
    }

    bool seemPut()
    {
        window_.setFieldText(control::kSeemNumber, options_.args[0]);
        window_.setFieldText(control::kSeemRecord, options_.args[1]);
        dialogs_.openPath = options_.args[2];
        return commands_.seem().uploadSeemRecord();
    }

    bool runCommand()
    {
        const std::string& c = options_.command;
        if (c == "list")
            return list();
        if (c == "get")
            return selectNamed(options_.args) && commands_.files().downloadSelectedFiles();
        if (c == "put")
            return put();
        if (c == "rm")
            return selectNamed(options_.args) && commands_.files().deleteSelectedFiles();
        if (c == "chattr")
            return chattr();
        if (c == "volume") {
            commands_.listView().showVolumeInfo();
            return commands_.fileSystem().freeSpace() != 0;
        }
        if (c == "seem-get")
            return seemGet();
        if (c == "seem-put")
            return seemPut();
        if (c == "restart")
            return commands_.seemAccess().restartPhone() == kOk;
        if (c == "suspend")
            return commands_.seemAccess().suspendPhone() == kOk;
        return commands_.seem().updateRingtones();
    }

    const Options& options_;
    StreamLog logStream_;
    ConsoleWindow window_;
    OperatorLog log_;
    PhoneConnection connection_;
    PhoneLink link_;
    TestCommandChannel channel_;
    MemoryFileList list_;
    ArgumentDialogs dialogs_;
    std::unique_ptr<PcFiles> pcFilesOwner_ = makeCliPcFiles();
    PcFiles& pcFiles_ = *pcFilesOwner_;
    int32_t autoRefresh_ = 0;
    PhoneCommands commands_;
};

} // namespace
} // namespace p2k::cli

int main(int argc, char** argv)
{
    using namespace p2k::cli;
    prepareConsole();
    Options options;
    if (!parse(utf8Arguments(argc, argv), options)) {
        printUsage(stderr);
        return 1;
    }
    if (options.command.empty()) {
        printUsage(options.help ? stdout : stderr);
        return options.help ? 0 : 1;
    }
    const auto sub = kSubcommands.find(options.command);
    if (sub == kSubcommands.end()) {
        std::cerr << "p2kfm-cli: unknown command " << options.command << "\n";
        printUsage(stderr);
        return 1;
    }
    if (options.help) {
        std::printf("usage: p2kfm-cli [--demo | --demo-dir DIR] [--trace] %s\n  %s\n", sub->second.usage,
                    sub->second.help);
        return 0;
    }
    if (options.args.size() < sub->second.minArgs || options.args.size() > sub->second.maxArgs) {
        std::fprintf(stderr, "usage: p2kfm-cli %s\n", sub->second.usage);
        return 1;
    }
    Tool tool(options);
    return tool.run();
}
