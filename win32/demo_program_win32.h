#pragma once

#include "app/application.h"
#include "app/demo_options.h"


namespace p2k {

// p2kfm-demo.exe's phone: the demo phone behind the simulated platform. It
// attaches when the monitor first looks, about a second after start. Held
// back, it stays away until another process sets the event named by
// demoAttachEventName (app/demo_options.h) for this process. The options
// may also put its command interface at another number, or make it go away
// at its N-th request and come back kReplugDelayMs later.
Application::PlatformFactory demoPlatformFactory(const DemoOptions& options);

} // namespace p2k
