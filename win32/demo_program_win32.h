#pragma once

#include "app/application.h"


namespace p2k {

// p2kfm-demo.exe's phone: the demo phone behind the simulated platform. It
// attaches when the monitor first looks, about a second after start. Held
// back, it stays away until another process sets the event named by
// demoAttachEventName (app/demo_options.h) for this process.
Application::PlatformFactory demoPlatformFactory(bool holdPhone);

} // namespace p2k
