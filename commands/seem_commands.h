#pragma once

#include "core/main_window.h"
#include "core/operator_log.h"
#include "commands/file_dialogs.h"
#include "commands/pc_files.h"
#include "link/clock.h"
#include "services/phone_file_system.h"
#include "services/seem_access.h"

#include <array>
#include <cstdint>
#include <string>

namespace p2k {

struct SeemCommandContext {
    MainWindow& window;
    FileDialogs& dialogs;
    PcFiles& pcFiles;
    OperatorLog& log;
    SeemAccess& seem;
    PhoneFileSystem& fileSystem;
    Clock& clock;
};

// Saving SEEM ranges to PC files, writing one record back, and the ringtone
// update. None of them saves or writes back a byte the phone or the PC file
// did not supply.
class SeemCommands {
public:
    explicit SeemCommands(SeemCommandContext context) : c_(context) {}

    // The results, which the window ignores, tell a script how it went: the
    // range download fails when no folder was chosen or a record was not saved.
    bool downloadSeemRange();
    bool uploadSeemRecord();
    bool updateRingtones();

    // The last answer of any SEEM read: status byte, then the record.
    const std::array<uint8_t, SeemAccess::kMaxAnswer>& answerBuffer() const { return answer_; }

private:
    uint32_t takeField(int controlId, uint32_t tooLargeBecomes, bool zeroBecomesOne = false);
    bool readRecord(uint32_t seem, uint32_t record);
    uint32_t recordLength() const;
    bool fitsOneWrite(uint32_t length) const;
    bool saveRecord(const std::string& folder, uint32_t seem, uint32_t record);
    bool endUpload(const std::string& reason);
    bool writeBackFrom(const DialogChoice& choice, uint32_t seem, uint32_t record);
    bool patchableProfiles(bool read);

    SeemCommandContext c_;
    std::array<uint8_t, SeemAccess::kMaxAnswer> answer_{};
};

// "%.4x": four lower-case hex digits, more when the value needs them.
std::string hex4(uint32_t value);

} // namespace p2k
