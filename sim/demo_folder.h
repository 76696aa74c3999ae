#pragma once

#include "link/clock.h"
#include "sim/simulated_phone.h"

#include <memory>
#include <string>

namespace p2k::sim {

// A demo phone kept in a PC folder between runs, so that the command-line
// tool can be tried without a phone: files under <folder>/files, SEEM
// records under <folder>/seem, names and attributes in an index file.

// Loads the phone kept in folder; a missing or empty folder gets the demo
// phone's content. Null, with error set, when the folder cannot be used.
std::unique_ptr<SimulatedPhone> openDemoFolder(Clock& clock, const std::string& folder, std::string& error);

// Writes the phone's files and records back into folder.
bool saveDemoFolder(const SimulatedPhone& phone, const std::string& folder, std::string& error);

} // namespace p2k::sim
