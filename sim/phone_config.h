#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace p2k::sim {

// One file of the phone's file system. The name is the phone's raw 8-bit
// (Windows-1251) bytes, compared byte for byte.
struct SimFile {
    std::string name;
    uint32_t attributes = 0;
    std::vector<uint8_t> content;
};

// Where most phones have their command interface.
inline constexpr uint8_t kUsualCommandInterface = 8;

// Answers no phone's description settles. Each is a guess, so the simulator
// gives either reading and the client is tested against both.
enum class OpenRefusal {
    ErrorStatus, // status 7 (generic failure) without data
    FailureByte, // the one byte 1, as read, seek, close and delete refuse
};
enum class WriteAcknowledge {
    Done,    // status 6 without data
    ByteSix, // the one byte 6
};
enum class MissingSeemRecord {
    FailureByte,    // the one SEEM status byte 1
    Done,           // status 6 without data
    StatusByteOnly, // the SEEM status byte 0 and no record bytes
};

// What kind of phone to simulate.
struct PhoneConfig {
    uint32_t entrySize = 268;          // 44 or 268: the size of one entry in list answers
    uint16_t entriesPerChunk = 8;      // entries per list-next answer
    std::u16string volumeName = u"/a"; // sent as big-endian UTF-16 units plus a zero unit
    uint32_t freeSpace = 1843200;      // free bytes before anything is written through the service
    uint32_t restartDowntimeMs = 3000; // how long a restarted phone stays away
    uint32_t answerDelayMs = 0;        // an answer shows in the status poll only this long after the request
    uint32_t transferDelayMs = 0;      // every control transfer takes this long
    bool startInModemMode = false;     // the command interface appears only after switchToCommandMode()
    uint8_t commandInterface = kUsualCommandInterface; // its number, which every setup block must name
    OpenRefusal openRefusal = OpenRefusal::ErrorStatus;
    WriteAcknowledge writeAcknowledge = WriteAcknowledge::Done;
    MissingSeemRecord missingSeemRecord = MissingSeemRecord::FailureByte;
};

} // namespace p2k::sim
