#include "app/application.h"

namespace p2k {

Application::Application(Clock& clock, const PlatformFactory& makePlatform)
    : clock_(clock), pump_(clock, interrupt_), channel_(link_, log_, clock), commands_(*this),
      dispatcher_(link_, log_, commands_),
      platform_(makePlatform(log_, clock)),
      monitor_(link_, *platform_, clock, [this](int32_t connected) { announceConnection(connected); })
{
    channel_.setRequestGate(&pump_);
    channel_.setInterruptFlag(&interrupt_);
}

void Application::attachWindow(MainWindow& window)
{
    window_.store(&window);
    log_.setSink(&window.logPane());
}

void Application::announceConnection(int32_t connected)
{
    if (MainWindow* window = window_.load())
        window->notifyConnection(connected);
}

void Application::WindowCommands::run(Command command)
{
    MainWindow* window = app_.window_.load();
    if (CommandRunner* attached = attached_.load()) {
        app_.pump_.begin(window);
        attached->run(command);
        app_.pump_.end();
        app_.channel_.reportInterrupted();
        return;
    }
    if (window == nullptr)
        return;
    switch (command) {
    case Command::About:
        window->showAbout();
        break;
    default:
        // The phone commands need the window's controls.
        break;
    }
}

} // namespace p2k
