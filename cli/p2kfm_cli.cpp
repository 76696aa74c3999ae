// p2kfm-cli: the program's commands from a shell, on a real phone or on the
// demo phone. It prints the program's own log texts as they happen, ends every
// failure with a line "p2kfm-cli: ..." that says what failed, and exits with
// one of the codes of ExitCode.

#include "core/cp1251.h"
#include "app/phone_commands.h"
#include "cli/cli_arguments.h"
#include "cli/cli_platform.h"
#include "cli/console_front_end.h"
#include "commands/memory_file_list.h"
#include "commands/pc_names.h"
#include "commands/seem_commands.h"
#include "link/phone_wait.h"
#include "link/test_command_channel.h"
#include "link/tracing_transport.h"
#include "sim/demo_folder.h"
#include "sim/demo_phone.h"

#include <atomic>
#include <charconv>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
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

// Phone names on the command line are UTF-8 (checked by the parser); the
// phone wants its code page.
std::vector<std::string> phoneNames(std::vector<std::string>::const_iterator first,
                                    std::vector<std::string>::const_iterator last)
{
    std::vector<std::string> names;
    for (auto name = first; name != last; ++name)
        names.push_back(utf8ToCp1251(*name).value_or(""));
    return names;
}

// The phone the command talks to, and whatever keeps it alive.
class PhoneConnection {
public:
    PhoneConnection(const Options& options, OperatorLog& log) : options_(options), log_(log) {}

    // Null, with the reason in error when there is one to give.
    std::unique_ptr<UsbTransport> open(std::string& error)
    {
        if (!options_.demoDir.empty()) {
            folder_ = sim::DemoFolder::open(cliClock(), *disk_, options_.demoDir, error);
            return folder_ ? folder_->phone().open() : nullptr;
        }
        if (options_.demo) {
            demoPhone_ = sim::makeDemoPhone(cliClock());
            return demoPhone_->open();
        }
        return openRealPhone();
    }

    // Keeps what the command changed on a demo phone in its folder.
    bool save(std::string& error) { return !folder_ || folder_->save(error); }

private:
    std::unique_ptr<UsbTransport> openRealPhone()
    {
        platform_ = makeCliPlatform(log_, cliClock());
        WaitStatus status;
        FoundPhone found = waitForPhone(*platform_, cliClock(), options_.waitSeconds * 1000,
                                        [&status](uint32_t leftMs) { status.show(leftMs); });
        status.end();
        return std::move(found.device);
    }

    const Options& options_;
    OperatorLog& log_;
    std::unique_ptr<sim::FolderDisk> disk_ = sim::makeFolderDisk();
    std::unique_ptr<sim::DemoFolder> folder_;
    std::unique_ptr<sim::SimulatedPhone> demoPhone_;
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
        if (targetFolderMissing())
            return finish();
        std::string error;
        std::unique_ptr<UsbTransport> device = connection_.open(error);
        if (!device) {
            if (error.empty()) {
                log_.appendLog("Тело не в коннекте\r\n");
                error = "no phone found within " + std::to_string(options_.waitSeconds) + " s";
            }
            reasons_.push_back(error);
            return finish();
        }
        if (options_.trace) {
            device = std::make_unique<TracingTransport>(
                std::move(device), [](const std::string& line) { std::cerr << line << "\n"; });
        }
        link_.attach(std::move(device));
        std::signal(SIGINT, onInterrupt);
        if (!runCommand() && reasons_.empty())
            reasons_.push_back(options_.command + ": " + findSubcommand(options_.command)->failure);
        channel_.reportInterrupted();
        window_.finishProgress();
        if (interruptRequested.load())
            reasons_.push_back("interrupted");
        link_.release();
        if (!connection_.save(error))
            reasons_.push_back(error);
        return finish();
    }

private:
    // Checked before the phone is touched: the commands would only find out file by file.
    bool targetFolderMissing()
    {
        std::error_code code;
        const bool writesThere = options_.command == "get" || options_.command == "seem-get";
        if (!writesThere || std::filesystem::is_directory(std::filesystem::u8path(options_.to), code))
            return false;
        reasons_.push_back(options_.to + ": no such folder");
        return true;
    }

    // Ends an unfinished log line, then gives every reason on a line of its own.
    int finish()
    {
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            reasons_.push_back("cannot write to standard output");
        logStream_.endLine();
        for (const std::string& reason : reasons_)
            std::cerr << "p2kfm-cli: " << reason << "\n";
        return reasons_.empty() ? kExitDone : kExitFailed;
    }

    bool refresh() { return commands_.listView().refreshFileList(window_); }

    bool selectNamed(const std::vector<std::string>& names)
    {
        if (!refresh())
            return false;
        for (const std::string& name : list_.select(names))
            reasons_.push_back(cp1251ToUtf8(name) + ": no such file on the phone");
        return reasons_.empty();
    }

    bool list()
    {
        if (!refresh())
            return false;
        if (!options_.tsv)
            std::printf("%10s %10s  %s\n", "size", "flags(hex)", "name");
        for (const MemoryFileList::Row& row : list_.rows) {
            const std::string name = shown(cp1251ToUtf8(row.name));
            if (options_.tsv)
                std::printf("%s\t%s\t%s\n", name.c_str(), row.flags.c_str(), row.size.c_str());
            else
                std::printf("%10s %10s  %s\n", row.size.c_str(), row.flags.c_str(), name.c_str());
        }
        return true;
    }

    // A name as the list shows it: one field of a line, harmless on a terminal.
    std::string shown(const std::string& name) const
    {
        const std::string field = options_.tsv ? tsvField(name) : name;
        return onTerminal(stdout) ? escapeControlBytes(field, false) : field;
    }

    // A phone file of the same name is replaced only when asked for.
    bool put()
    {
        using ExistingName = FileTransferCommands::ExistingName;
        dialogs_.openPath = options_.args[0];
        window_.setFieldText(control::kUploadPath, options_.as);
        if (refresh() && commands_.files().uploadFile(options_.replace ? ExistingName::Replace : ExistingName::Refuse))
            return true;
        explainLongPhoneName();
        return false;
    }

    // The upload ends silently on a name longer than the phone's name field.
    void explainLongPhoneName()
    {
        const std::optional<std::string> name = utf8ToCp1251(options_.as + std::string(lastPartOf(options_.args[0])));
        const size_t limit = commands_.fileSystem().nameFieldSize();
        if (name && limit != 0 && name->size() > limit) {
            reasons_.push_back("put: the phone name has " + std::to_string(name->size())
                               + " characters; this phone takes at most " + std::to_string(limit));
        }
    }

    bool chattr()
    {
        window_.setFieldText(control::kAttributes, std::to_string(options_.attributes));
        return selectNamed(phoneNames(options_.args.begin() + 1, options_.args.end()))
               && commands_.files().changeAttributes();
    }

    bool seemGet()
    {
        window_.setFieldText(control::kSeemRangeStart, hex4(options_.seemFirst));
        window_.setFieldText(control::kSeemRangeEnd, hex4(options_.seemLast));
        return commands_.seem().downloadSeemRange();
    }

    bool seemPut()
    {
        window_.setFieldText(control::kSeemNumber, hex4(options_.seem));
        window_.setFieldText(control::kSeemRecord, hex4(options_.record));
        dialogs_.openPath = options_.args[2];
        return commands_.seem().uploadSeemRecord();
    }

    bool runCommand()
    {
        const std::string& c = options_.command;
        const std::vector<std::string>& args = options_.args;
        if (c == "list")
            return list();
        if (c == "get")
            return selectNamed(phoneNames(args.begin(), args.end())) && commands_.files().downloadSelectedFiles();
        if (c == "put")
            return put();
        if (c == "rm")
            return selectNamed(phoneNames(args.begin(), args.end())) && commands_.files().deleteSelectedFiles();
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
    std::vector<std::string> reasons_;
};

// Usage on standard error, the command's own when it is known, then the reason.
int refuse(const ParseResult& parsed)
{
    printUsage(stderr, parsed.options.command);
    std::cerr << "p2kfm-cli: " << parsed.error << "\n";
    return kExitUsage;
}

} // namespace
} // namespace p2k::cli

int main(int argc, char** argv)
{
    using namespace p2k::cli;
    prepareConsole();
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("p2kfm-cli %s\n", P2KFM_VERSION);
        return 0;
    }
    ParseResult parsed = parseArguments(utf8Arguments(argc, argv));
    if (!parsed.error.empty())
        return refuse(parsed);
    Options& options = parsed.options;
    if (options.help) {
        printUsage(stdout, options.command);
        return std::fflush(stdout) == 0 ? kExitDone : kExitFailed;
    }
    makePathsAbsolute(options);
    Tool tool(options);
    return tool.run();
}
