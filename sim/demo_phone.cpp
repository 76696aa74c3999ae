#include "sim/demo_phone.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace p2k::sim {

namespace {

struct DemoFile {
    const char* utf8Name;
    uint32_t attributes;
    uint32_t size;
};

// The demo phone's files, in list order.
constexpr std::array kDemoFiles{
    DemoFile{"/a/mobile/audio/Ring01.mid", 0x0000, 3412},
    DemoFile{"/a/mobile/audio/Ring02.mid", 0x0000, 5120},
    DemoFile{"/a/mobile/audio/Ring03.mid", 0x0000, 4096},
    DemoFile{"/a/mobile/audio/Alarm.mid", 0x0000, 1890},
    DemoFile{"/a/mobile/audio/Classic.mid", 0x0000, 7734},
    DemoFile{"/a/mobile/audio/Мелодия.mid", 0x0000, 2750},
    DemoFile{"/a/mobile/audio/Звонок.mid", 0x0000, 3305},
    DemoFile{"/a/mobile/audio/Track01.mp3", 0x0000, 58112},
    DemoFile{"/a/mobile/audio/Track02.mp3", 0x0000, 41377},
    DemoFile{"/a/mobile/audio/Voice_note.amr", 0x0000, 6406},
    DemoFile{"/a/mobile/audio/Intro.wav", 0x0000, 12044},
    DemoFile{"/a/mobile/picture/Wallpaper.jpg", 0x0000, 48211},
    DemoFile{"/a/mobile/picture/Фото_001.jpg", 0x0000, 35190},
    DemoFile{"/a/mobile/picture/Photo_002.jpg", 0x0000, 31008},
    DemoFile{"/a/mobile/picture/Icon.gif", 0x0000, 903},
    DemoFile{"/a/mobile/picture/Logo.gif", 0x0000, 2318},
    DemoFile{"/a/mobile/picture/Screensaver.gif", 0x0000, 24050},
    DemoFile{"/a/mobile/picture/Anim.gif", 0x0000, 15277},
    DemoFile{"/a/mobile/picture/Thumb.bmp", 0x0000, 1024},
    DemoFile{"/a/mobile/video/Clip01.3gp", 0x0000, 60144},
    DemoFile{"/a/mobile/video/Clip02.3gp", 0x0000, 52580},
    DemoFile{"/a/mobile/video/Trailer.3gp", 0x0000, 45002},
    DemoFile{"/a/mobile/java/Game.jar", 0x00010000, 30496},
    DemoFile{"/a/mobile/java/Game.jad", 0x00010000, 352},
    DemoFile{"/a/mobile/system/settings.cfg", 0x0004, 704},
    DemoFile{"/a/mobile/system/phonebook.db", 0x0004, 8200},
    DemoFile{"/a/mobile/system/sms_inbox.db", 0x0004, 6012},
    DemoFile{"/a/mobile/system/calendar.db", 0x0004, 3072},
    DemoFile{"/a/mobile/system/skin.dat", 0x0005, 9130},
    DemoFile{"/a/mobile/system/lang_ru.dat", 0x0005, 14002},
    DemoFile{"/a/mobile/system/bookmarks.txt", 0x0000, 421},
    DemoFile{"/a/mobile/system/error.log", 0x0002, 0},
    DemoFile{"MyToneDB.db", 0x0004, 1536},
};

constexpr uint32_t kDemoFreeSpace = 1843200;

struct Signature {
    const char* extension;
    std::array<uint8_t, 12> bytes;
    size_t size;
};

// The first bytes of each kind of file, so that the content looks the part.
constexpr std::array kSignatures{
    Signature{".mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1}, 12},
    Signature{".mp3", {'I', 'D', '3', 3, 0, 0, 0, 0, 0x0F, 0x76}, 10},
    Signature{".amr", {'#', '!', 'A', 'M', 'R', '\n'}, 6},
    Signature{".wav", {'R', 'I', 'F', 'F', 0x04, 0x2F, 0, 0, 'W', 'A', 'V', 'E'}, 12},
    Signature{".jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0}, 11},
    Signature{".gif", {'G', 'I', 'F', '8', '9', 'a'}, 6},
    Signature{".bmp", {'B', 'M', 0, 4, 0, 0}, 6},
    Signature{".3gp", {0, 0, 0, 0x18, 'f', 't', 'y', 'p', '3', 'g', 'p', '4'}, 12},
    Signature{".jar", {'P', 'K', 3, 4}, 4},
};

constexpr std::array kTextExtensions{".txt", ".cfg", ".jad", ".log"};

bool endsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool isTextFile(std::string_view name)
{
    return std::any_of(kTextExtensions.begin(), kTextExtensions.end(),
                       [&](const char* ext) { return endsWith(name, ext); });
}

std::vector<uint8_t> signatureOf(std::string_view name)
{
    for (const Signature& signature : kSignatures)
        if (endsWith(name, signature.extension))
            return std::vector<uint8_t>(signature.bytes.begin(), signature.bytes.begin() + signature.size);
    return {};
}

uint32_t seedFrom(std::string_view name)
{
    uint32_t hash = 2166136261u; // FNV-1a
    for (char c : name)
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    return hash;
}

std::vector<uint8_t> binaryContent(std::string_view name, uint32_t size)
{
    std::vector<uint8_t> out = signatureOf(name);
    out.resize(std::min<size_t>(out.size(), size));
    uint32_t state = seedFrom(name);
    while (out.size() < size) {
        state = state * 1664525u + 1013904223u;
        out.push_back(static_cast<uint8_t>(state >> 24));
    }
    return out;
}

std::vector<uint8_t> textContent(uint32_t size)
{
    std::vector<uint8_t> out;
    for (int line = 1; out.size() < size; ++line) {
        const std::string text = "entry" + std::to_string(line) + "=" + std::to_string(line * 37 % 1000) + "\r\n";
        out.insert(out.end(), text.begin(), text.end());
    }
    out.resize(size);
    return out;
}

std::vector<uint8_t> demoContent(std::string_view name, uint32_t size)
{
    return isTextFile(name) ? textContent(size) : binaryContent(name, size);
}

// SEEM numbers with a run of records 1..count, each of the given size.
struct DemoSeem {
    uint16_t seem;
    uint16_t records;
    uint16_t recordSize;
};

constexpr std::array kDemoSeems{
    DemoSeem{0x0004, 4, 16},
    DemoSeem{0x0032, 3, 24},
    DemoSeem{0x004C, 3, 60},
    DemoSeem{0x0105, 130, 12}, // more than the 128 records a range download asks for
    DemoSeem{0x0207, 100, 32},
    DemoSeem{0x02A0, 1, 2000},
    DemoSeem{0x0300, 20, 8},
};

constexpr uint16_t kProfilesSeem = 0x004C;
constexpr uint16_t kProfilesRecord = 1;
// A record that a walk over records 1, 2, 3 ... never reaches: record 4 is missing.
constexpr uint16_t kStrandedSeem = 0x0032;
constexpr uint16_t kStrandedRecord = 5;

std::vector<uint8_t> seemContent(uint16_t seem, uint16_t record, uint16_t size)
{
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<uint8_t>(seem * 31u + record * 7u + i * 13u);
    return out;
}

// Five profiles of 11 bytes (number, ring style, alert style, ring volume,
// key volume, vibration, and settings), then the active profile and four
// more bytes.
std::vector<uint8_t> profilesRecord()
{
    constexpr std::array<uint8_t, 5> kRingVolume{5, 7, 0, 3, 6};
    constexpr std::array<uint8_t, 5> kVibrate{0, 1, 1, 0, 1};
    std::vector<uint8_t> out;
    for (uint8_t profile = 0; profile < 5; ++profile) {
        const std::array<uint8_t, 11> group{static_cast<uint8_t>(profile + 1), 0x01, 0x00, kRingVolume[profile],
                                            0x03, kVibrate[profile], 0x00, 0x01, 0x00, 0x0A, 0x00};
        out.insert(out.end(), group.begin(), group.end());
    }
    const std::array<uint8_t, 5> tail{0x01, 0x05, 0x00, 0x00, 0xFF};
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

void addDemoSeems(SimulatedPhone& phone)
{
    for (const DemoSeem& seem : kDemoSeems)
        for (uint16_t record = 1; record <= seem.records; ++record)
            phone.setSeemRecord(seem.seem, record, seemContent(seem.seem, record, seem.recordSize));
    phone.setSeemRecord(kProfilesSeem, kProfilesRecord, profilesRecord());
    phone.setSeemRecord(kStrandedSeem, kStrandedRecord, seemContent(kStrandedSeem, kStrandedRecord, 24));
}

// One UTF-8 character starting at text[pos]; pos moves past it.
uint32_t nextCodePoint(std::string_view text, size_t& pos)
{
    const auto lead = static_cast<uint8_t>(text[pos++]);
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    uint32_t codePoint = extra == 0 ? lead : lead & (0x3Fu >> extra);
    for (int i = 0; i < extra && pos < text.size(); ++i)
        codePoint = (codePoint << 6) | (static_cast<uint8_t>(text[pos++]) & 0x3Fu);
    return codePoint;
}

char windows1251(uint32_t codePoint)
{
    if (codePoint < 0x80)
        return static_cast<char>(codePoint);
    if (codePoint >= 0x0410 && codePoint <= 0x044F) // А..я
        return static_cast<char>(0xC0 + (codePoint - 0x0410));
    if (codePoint == 0x0401) // Ё
        return static_cast<char>(0xA8);
    if (codePoint == 0x0451) // ё
        return static_cast<char>(0xB8);
    return '?';
}

std::string hex4(uint32_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

std::string asciiText(const std::u16string& text)
{
    std::string out;
    for (char16_t unit : text)
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    return out;
}

uint64_t totalContentBytes(const std::vector<SimFile>& files)
{
    uint64_t total = 0;
    for (const SimFile& file : files)
        total += file.content.size();
    return total;
}

std::string seemList(const std::vector<uint16_t>& seems)
{
    std::string out;
    for (uint16_t seem : seems)
        out += (out.empty() ? "" : ", ") + hex4(seem);
    return out;
}

} // namespace

std::string toPhoneName(std::string_view utf8)
{
    std::string out;
    for (size_t pos = 0; pos < utf8.size();)
        out.push_back(windows1251(nextCodePoint(utf8, pos)));
    return out;
}

PhoneConfig demoPhoneConfig(uint32_t transferDelayMs, uint32_t answerDelayMs)
{
    PhoneConfig config;
    config.transferDelayMs = transferDelayMs;
    config.answerDelayMs = answerDelayMs;
    config.entrySize = 268;
    config.entriesPerChunk = 8;
    config.volumeName = u"/a";
    config.freeSpace = kDemoFreeSpace;
    return config;
}

std::unique_ptr<SimulatedPhone> makeDemoPhone(Clock& clock, uint32_t transferDelayMs, uint32_t answerDelayMs)
{
    return makeDemoPhone(clock, demoPhoneConfig(transferDelayMs, answerDelayMs));
}

std::unique_ptr<SimulatedPhone> makeDemoPhone(Clock& clock, PhoneConfig config)
{
    auto phone = std::make_unique<SimulatedPhone>(clock, std::move(config));
    for (const DemoFile& file : kDemoFiles) {
        const std::string name = toPhoneName(file.utf8Name);
        phone->addFile(SimFile{name, file.attributes, demoContent(name, file.size)});
    }
    addDemoSeems(*phone);
    return phone;
}

std::string describeDemoPhone()
{
    FakeClock clock;
    const std::unique_ptr<SimulatedPhone> phone = makeDemoPhone(clock);
    const std::vector<SimFile> files = phone->files();
    const std::vector<uint8_t>* profiles = phone->seemRecord(kProfilesSeem, kProfilesRecord);
    return "Demo phone: " + std::to_string(files.size()) + " files (" + std::to_string(totalContentBytes(files)) +
           " bytes, among them MyToneDB.db and names in Russian) on volume " +
           asciiText(phone->config().volumeName) + ", " + std::to_string(phone->freeSpace()) +
           " bytes free; " + std::to_string(phone->seemRecordCount()) + " SEEM records in SEEMs " +
           seemList(phone->seemNumbers()) + "; profiles: SEEM " + hex4(kProfilesSeem) + " record " +
           hex4(kProfilesRecord) + ", " + std::to_string(profiles ? profiles->size() : 0) + " bytes.";
}

} // namespace p2k::sim
