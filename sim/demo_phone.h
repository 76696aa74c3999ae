#pragma once

#include "link/clock.h"
#include "sim/simulated_phone.h"

#include <memory>
#include <string>
#include <string_view>

namespace p2k::sim {

// The demo phone: a few dozen media and system files, the ringtone database
// "MyToneDB.db", names with Russian letters, and a few hundred SEEM records
// including the profiles record (SEEM 0x004C, record 1). Always the same
// content, so demos and tests can rely on it.
// The delays model a real bus: each control transfer, and the phone's time
// to answer (both 0: as fast as the host can go).
std::unique_ptr<SimulatedPhone> makeDemoPhone(Clock& clock, uint32_t transferDelayMs = 0, uint32_t answerDelayMs = 0);
// The demo phone's content on a phone of another kind, such as one whose
// command interface has another number.
std::unique_ptr<SimulatedPhone> makeDemoPhone(Clock& clock, PhoneConfig config);

// The settings the demo phone is built with (volume, free space, entry size,
// delays), without its files and SEEM records.
PhoneConfig demoPhoneConfig(uint32_t transferDelayMs = 0, uint32_t answerDelayMs = 0);

// A short description of the demo phone (files, volume, free space, SEEMs),
// worded from the phone's actual content.
std::string describeDemoPhone();

// The phone's Windows-1251 bytes for a UTF-8 text of ASCII and Russian
// letters; other characters become '?'.
std::string toPhoneName(std::string_view utf8);

} // namespace p2k::sim
