#pragma once

#include "core/operator_log.h"
#include "commands/pc_files.h"
#include "link/clock.h"
#include "link/phone_platform.h"

#include <memory>
#include <string>
#include <vector>

namespace p2k::cli {

// The real phone's platform on this system: libusb, or the phone maker's
// driver on Windows.
std::unique_ptr<PhonePlatform> makeCliPlatform(OperatorLog& log, Clock& clock);

// The clock the tool sleeps and times on: on Windows one that holds 1 ms
// sleeps to about 1 ms, as the protocol's polls need.
Clock& cliClock();

// The PC's files, reached by UTF-8 paths whatever the system's code page.
std::unique_ptr<PcFiles> makeCliPcFiles();

// The command line in UTF-8, the program's name first.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// Makes the terminal show the tool's UTF-8 output.
void prepareConsole();

} // namespace p2k::cli
