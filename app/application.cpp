#include "app/application.h"

namespace p2k {

Application::Application(Clock& clock, const PlatformFactory& makePlatform)
    : clock_(clock), channel_(link_, log_, clock), commands_(window_), dispatcher_(link_, log_, commands_),
      platform_(makePlatform(log_, clock)),
      monitor_(link_, *platform_, clock, [this](int32_t connected) { announceConnection(connected); })
{
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
    if (CommandRunner* attached = attached_.load()) {
        attached->run(command);
        return;
    }
    MainWindow* window = window_.load();
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
