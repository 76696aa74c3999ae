#pragma once

#include "app/command_pump.h"
#include "app/command_table.h"
#include "core/main_window.h"
#include "core/operator_log.h"
#include "link/clock.h"
#include "link/connection_monitor.h"
#include "link/phone_link.h"
#include "link/phone_platform.h"
#include "link/test_command_channel.h"

#include <atomic>
#include <functional>
#include <memory>

namespace p2k {

// The running program's world: the log, the phone link and its channel, the
// command dispatcher, the platform and the connection monitor. The front end
// owns one and hands it around by reference; tests build a fresh one each.
class Application {
public:
    // Builds the platform once the log exists (discovery may log).
    using PlatformFactory = std::function<std::unique_ptr<PhonePlatform>(OperatorLog& log, Clock& clock)>;

    Application(Clock& clock, const PlatformFactory& makePlatform);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    OperatorLog& log() { return log_; }
    PhoneLink& link() { return link_; }
    TestCommandChannel& channel() { return channel_; }
    CommandDispatcher& dispatcher() { return dispatcher_; }
    ConnectionMonitor& monitor() { return monitor_; }
    Clock& clock() { return clock_; }
    CommandPump& pump() { return pump_; }

    // Makes window the one that commands use and that hears of connections;
    // its log pane becomes the log's sink. The window must stay until the
    // process ends, or until another is attached.
    void attachWindow(MainWindow& window);

    // The runner of the window's commands (the phone commands built for its
    // controls); it must stay as long as the window does.
    void attachCommands(CommandRunner& commands) { commands_.attach(commands); }

    // Starts the connection monitor's thread.
    void startMonitor() { monitor_.start(); }

private:
    // Runs what the dispatcher lets through: the attached commands, with
    // the window pumped between their requests, or before they are attached
    // only About.
    class WindowCommands : public CommandRunner {
    public:
        explicit WindowCommands(Application& app) : app_(app) {}
        void run(Command command) override;
        void attach(CommandRunner& commands) { attached_.store(&commands); }

    private:
        Application& app_;
        std::atomic<CommandRunner*> attached_{nullptr};
    };

    void announceConnection(int32_t connected);

    Clock& clock_;
    std::atomic<MainWindow*> window_{nullptr};
    OperatorLog log_;
    PhoneLink link_;
    // Raised by Esc and the close box during a command.
    std::atomic<bool> interrupt_{false};
    CommandPump pump_;
    TestCommandChannel channel_;
    WindowCommands commands_;
    CommandDispatcher dispatcher_;
    std::unique_ptr<PhonePlatform> platform_;
    ConnectionMonitor monitor_;
};

} // namespace p2k
