#pragma once

#include "app/application.h"

#include <string>
#include <vector>

namespace p2k {

// p2kfm-demo.exe's phone: the demo phone behind the simulated platform. It
// attaches when the monitor first looks, about a second after start. Held
// back, it stays away until another process sets the event named by
// demoAttachEventName (app/demo_options.h) for this process.
Application::PlatformFactory demoPlatformFactory(bool holdPhone);

// The program's arguments, without the program's own name, as UTF-8.
std::vector<std::string> commandLineArguments();

} // namespace p2k
