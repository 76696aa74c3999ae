#include "sim/demo_folder.h"

#include "sim/demo_phone.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

namespace p2k::sim {

namespace {

namespace fs = std::filesystem;

constexpr const char* kIndexName = "p2kfm-demo-phone.txt";
constexpr const char* kNewIndexName = "p2kfm-demo-phone.txt.new";
constexpr const char* kLockName = "p2kfm-demo-phone.lock";
constexpr const char* kIndexHeader = "p2kfm demo phone 1";
constexpr uint32_t kLargestInterfaceNumber = 0xFF;
constexpr const char* kFilesFolder = "files";
constexpr const char* kSeemFolder = "seem";

std::string toHex(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out.empty() ? "-" : out;
}

// The index is ours, but a damaged one must not bring the tool down.
std::optional<uint32_t> number(const std::string& text, int base)
{
    uint32_t value = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (problem != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::string> fromHex(const std::string& hex)
{
    std::string out;
    if (hex == "-")
        return out;
    if (hex.size() % 2 != 0)
        return std::nullopt;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const std::optional<uint32_t> byte = number(hex.substr(i, 2), 16);
        if (!byte)
            return std::nullopt;
        out += static_cast<char>(*byte);
    }
    return out;
}

std::string text(const fs::path& path)
{
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

// error names the file when it cannot be read.
bool readBytes(const fs::path& path, std::vector<uint8_t>& bytes, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (!in.bad() && in.is_open())
        return true;
    error = "cannot read " + text(path);
    return false;
}

// The blob names a save starts from: files by their place in the list.
std::string fileBlobBase(size_t index)
{
    char name[32];
    std::snprintf(name, sizeof name, "%05zu.bin", index);
    return name;
}

std::string seemBlobBase(uint16_t seem, uint16_t record)
{
    char name[32];
    std::snprintf(name, sizeof name, "%.4x_%.4x.seem", seem, record);
    return name;
}

// base, or base with -1, -2 ... before its extension: the first that no
// blob in use has.
std::string unusedBlobName(const std::string& base, std::set<std::string>& inUse)
{
    std::string name = base;
    const size_t dot = base.find('.');
    for (int n = 1; inUse.count(name) != 0; ++n)
        name = base.substr(0, dot) + "-" + std::to_string(n) + base.substr(dot);
    inUse.insert(name);
    return name;
}

bool sameFile(const SimFile& a, const SimFile& b)
{
    return a.name == b.name && a.attributes == b.attributes && a.content == b.content;
}

bool sameSeem(const SimulatedPhone::SeemRecordCopy& a, const SimulatedPhone::SeemRecordCopy& b)
{
    return a.seem == b.seem && a.record == b.record && a.bytes == b.bytes;
}

bool sameState(const DemoFolder::Stored& a, const DemoFolder::Stored& b)
{
    return a.freeSpace == b.freeSpace && a.commandInterface == b.commandInterface
           && std::equal(a.files.begin(), a.files.end(), b.files.begin(), b.files.end(),
                         [](const auto& x, const auto& y) { return sameFile(x.file, y.file); })
           && std::equal(a.seems.begin(), a.seems.end(), b.seems.begin(), b.seems.end(),
                         [](const auto& x, const auto& y) { return sameSeem(x.copy, y.copy); });
}

DemoFolder::Stored stateOf(const SimulatedPhone& phone)
{
    DemoFolder::Stored state;
    state.freeSpace = phone.freeSpace();
    state.commandInterface = phone.config().commandInterface;
    for (SimFile& file : phone.files())
        state.files.push_back({std::move(file), ""});
    for (auto& copy : phone.seemRecords())
        state.seems.push_back({std::move(copy), ""});
    return state;
}

std::unique_ptr<SimulatedPhone> phoneOf(Clock& clock, const DemoFolder::Stored& stored)
{
    PhoneConfig config = demoPhoneConfig();
    config.freeSpace = stored.freeSpace;
    config.commandInterface = stored.commandInterface;
    auto phone = std::make_unique<SimulatedPhone>(clock, config);
    for (const auto& entry : stored.files)
        phone->addFile(entry.file);
    for (const auto& entry : stored.seems)
        phone->setSeemRecord(entry.copy.seem, entry.copy.record, entry.copy.bytes);
    return phone;
}

std::string indexText(const DemoFolder::Stored& stored)
{
    std::ostringstream index;
    index << kIndexHeader << "\n";
    // Named only for a phone that differs from the usual one.
    if (stored.commandInterface != kUsualCommandInterface)
        index << "interface " << unsigned{stored.commandInterface} << "\n";
    index << "free " << stored.freeSpace << "\n";
    for (const auto& [file, blob] : stored.files)
        index << "file " << toHex(file.name) << ' ' << std::hex << file.attributes << std::dec << ' ' << blob << "\n";
    for (const auto& [copy, blob] : stored.seems)
        index << "seem " << std::hex << copy.seem << ' ' << copy.record << std::dec << ' ' << blob << "\n";
    return index.str();
}

std::optional<DemoFolder::Stored> loadIndex(const fs::path& folder, std::string& error)
{
    std::ifstream index(folder / kIndexName);
    std::string line;
    std::getline(index, line);
    if (line != kIndexHeader) {
        error = "not a demo phone folder: " + text(folder / kIndexName);
        return std::nullopt;
    }
    DemoFolder::Stored stored;
    stored.freeSpace = demoPhoneConfig().freeSpace;
    while (std::getline(index, line)) {
        std::istringstream fields(line);
        std::string kind, a, b, blob;
        fields >> kind >> a >> b >> blob;
        const std::optional<uint32_t> first = number(a, kind == "free" || kind == "interface" ? 10 : 16);
        const std::optional<uint32_t> second = number(b, 16);
        const std::optional<std::string> name = fromHex(a);
        // Blob names are ours, plain names inside the folder.
        const bool plain = !blob.empty() && blob.find_first_of("/\\") == std::string::npos && blob != "..";
        if (kind == "free" && first) {
            stored.freeSpace = *first;
        } else if (kind == "interface" && first && *first <= kLargestInterfaceNumber) {
            stored.commandInterface = static_cast<uint8_t>(*first);
        } else if (kind == "file" && name && second && plain) {
            DemoFolder::StoredFile entry{{*name, *second, {}}, blob};
            if (!readBytes(folder / kFilesFolder / blob, entry.file.content, error))
                return std::nullopt;
            stored.files.push_back(std::move(entry));
        } else if (kind == "seem" && first && second && plain) {
            DemoFolder::StoredSeem entry{{static_cast<uint16_t>(*first), static_cast<uint16_t>(*second), {}}, blob};
            if (!readBytes(folder / kSeemFolder / blob, entry.copy.bytes, error))
                return std::nullopt;
            stored.seems.push_back(std::move(entry));
        } else if (!line.empty()) {
            error = "damaged line in " + text(folder / kIndexName) + ": " + line;
            return std::nullopt;
        }
    }
    return stored;
}

bool allNamesEndIn(const fs::path& folder, const std::string& extension)
{
    std::error_code code;
    for (const auto& entry : fs::directory_iterator(folder, code)) {
        if (!entry.path().filename().string().ends_with(extension))
            return false;
    }
    return !code;
}

// A folder without an index may be used when it holds nothing, or nothing
// but what a first save cut off left behind.
bool unusedFolder(const fs::path& folder)
{
    std::error_code code;
    if (!fs::exists(folder, code))
        return true;
    for (const auto& entry : fs::directory_iterator(folder, code)) {
        const std::string name = entry.path().filename().string();
        const bool ours = name == kLockName || name == kNewIndexName
                          || (name == kFilesFolder && allNamesEndIn(entry.path(), ".bin"))
                          || (name == kSeemFolder && allNamesEndIn(entry.path(), ".seem"));
        if (!ours)
            return false;
    }
    return !code;
}

// Waits a few seconds for a run that holds the folder.
std::unique_ptr<FolderLock> lockFolder(Clock& clock, FolderDisk& disk, const fs::path& folder, std::string& error)
{
    for (uint32_t waited = 0;; waited += DemoFolder::kLockPollMs) {
        FolderDisk::LockAttempt attempt = disk.tryLock(folder / kLockName);
        if (attempt.lock)
            return std::move(attempt.lock);
        if (!attempt.busy) {
            error = "cannot lock " + text(folder / kLockName);
            return nullptr;
        }
        if (waited >= DemoFolder::kLockWaitMs) {
            error = "the demo phone in " + text(folder) + " is in use by another p2kfm program; gave up after "
                    + std::to_string(DemoFolder::kLockWaitMs / 1000) + " s";
            return nullptr;
        }
        clock.sleepMs(DemoFolder::kLockPollMs);
    }
}

} // namespace

DemoFolder::DemoFolder(FolderDisk& disk, fs::path folder, std::unique_ptr<FolderLock> lock,
                       std::unique_ptr<SimulatedPhone> phone, Stored stored)
    : disk_(disk), folder_(std::move(folder)), lock_(std::move(lock)), phone_(std::move(phone)),
      stored_(std::move(stored))
{
}

std::unique_ptr<DemoFolder> DemoFolder::open(Clock& clock, FolderDisk& disk, const std::string& folderName,
                                             std::string& error)
{
    const fs::path folder = fs::u8path(folderName);
    std::error_code code;
    const auto refuseForeign = [&] {
        error = "the folder is not empty and holds no demo phone: " + folderName;
        return nullptr;
    };
    if (!fs::exists(folder / kIndexName, code) && !unusedFolder(folder))
        return refuseForeign();
    if (!fs::create_directories(folder, code) && code) {
        error = "cannot create " + folderName;
        return nullptr;
    }
    std::unique_ptr<FolderLock> lock = lockFolder(clock, disk, folder, error);
    if (!lock)
        return nullptr;
    if (fs::exists(folder / kIndexName, code)) {
        std::optional<Stored> stored = loadIndex(folder, error);
        if (!stored)
            return nullptr;
        std::unique_ptr<SimulatedPhone> phone = phoneOf(clock, *stored);
        return std::make_unique<DemoFolder>(disk, folder, std::move(lock), std::move(phone), std::move(*stored));
    }
    // Another run may have used the folder while this one waited.
    if (!unusedFolder(folder))
        return refuseForeign();
    auto opened = std::make_unique<DemoFolder>(disk, folder, std::move(lock), makeDemoPhone(clock), Stored{});
    if (!opened->writeState(stateOf(opened->phone()), error))
        return nullptr;
    return opened;
}

bool DemoFolder::save(std::string& error)
{
    Stored wanted = stateOf(*phone_);
    if (sameState(wanted, stored_))
        return true;
    return writeState(std::move(wanted), error);
}

// Blobs first, each under a name the old index does not use, then the index.
bool DemoFolder::writeState(Stored wanted, std::string& error)
{
    std::set<std::string> fileBlobs;
    std::set<std::string> seemBlobs;
    for (const auto& entry : stored_.files)
        fileBlobs.insert(entry.blob);
    for (const auto& entry : stored_.seems)
        seemBlobs.insert(entry.blob);
    std::error_code code;
    fs::create_directories(folder_ / kFilesFolder, code);
    fs::create_directories(folder_ / kSeemFolder, code);
    bool written = !code;
    for (size_t i = 0; i < wanted.files.size() && written; ++i) {
        StoredFile& entry = wanted.files[i];
        const auto old = std::find_if(stored_.files.begin(), stored_.files.end(), [&](const StoredFile& s) {
            return s.file.name == entry.file.name && s.file.content == entry.file.content;
        });
        if (old != stored_.files.end()) {
            entry.blob = old->blob;
            continue;
        }
        entry.blob = unusedBlobName(fileBlobBase(i), fileBlobs);
        written = disk_.writeFile(folder_ / kFilesFolder / entry.blob, entry.file.content);
    }
    for (StoredSeem& entry : wanted.seems) {
        if (!written)
            break;
        const auto old = std::find_if(stored_.seems.begin(), stored_.seems.end(),
                                      [&](const StoredSeem& s) { return sameSeem(s.copy, entry.copy); });
        if (old != stored_.seems.end()) {
            entry.blob = old->blob;
            continue;
        }
        entry.blob = unusedBlobName(seemBlobBase(entry.copy.seem, entry.copy.record), seemBlobs);
        written = disk_.writeFile(folder_ / kSeemFolder / entry.blob, entry.copy.bytes);
    }
    const std::string index = indexText(wanted);
    written = written
              && disk_.writeFile(folder_ / kNewIndexName,
                                 std::span(reinterpret_cast<const uint8_t*>(index.data()), index.size()))
              && disk_.flushWrites(folder_) && disk_.replaceFile(folder_ / kNewIndexName, folder_ / kIndexName);
    if (!written) {
        error = "cannot write the demo phone into " + text(folder_) + "; it keeps the state it had before";
        return false;
    }
    stored_ = std::move(wanted);
    removeUnnamedBlobs();
    return true;
}

// What the index no longer names, and what a save cut off left behind.
void DemoFolder::removeUnnamedBlobs()
{
    std::set<fs::path> named;
    for (const auto& entry : stored_.files)
        named.insert(folder_ / kFilesFolder / entry.blob);
    for (const auto& entry : stored_.seems)
        named.insert(folder_ / kSeemFolder / entry.blob);
    std::vector<fs::path> unnamed;
    std::error_code code;
    for (const char* sub : {kFilesFolder, kSeemFolder}) {
        for (const auto& entry : fs::directory_iterator(folder_ / sub, code)) {
            if (named.count(entry.path()) == 0)
                unnamed.push_back(entry.path());
        }
    }
    // A blob left over costs only room: the next save tries again.
    for (const fs::path& path : unnamed)
        disk_.removeFile(path);
}

} // namespace p2k::sim
