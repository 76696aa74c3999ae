#include "sim/demo_folder.h"

#include "sim/demo_phone.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace p2k::sim {

namespace {

namespace fs = std::filesystem;

constexpr const char* kIndexName = "p2kfm-demo-phone.txt";
constexpr const char* kIndexHeader = "p2kfm demo phone 1";
constexpr uint32_t kLargestInterfaceNumber = 0xFF;

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

// error names the file when it cannot be read.
bool readBytes(const fs::path& path, std::vector<uint8_t>& bytes, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (!in.bad() && in.is_open())
        return true;
    error = "cannot read " + path.string();
    return false;
}

bool writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Files are kept under numbered names: phone names may hold anything.
std::string storedFileName(size_t index)
{
    char name[32];
    std::snprintf(name, sizeof name, "%05zu.bin", index);
    return name;
}

std::string storedSeemName(uint16_t seem, uint16_t record)
{
    char name[32];
    std::snprintf(name, sizeof name, "%.4x_%.4x.seem", seem, record);
    return name;
}

// Whatever part of a save fails, the operator sees the same text.
bool cannotWrite(const std::string& folderName, std::string& error)
{
    error = "cannot write the demo phone into " + folderName;
    return false;
}

std::unique_ptr<SimulatedPhone> loadIndex(Clock& clock, const fs::path& folder, std::string& error)
{
    std::ifstream index(folder / kIndexName);
    std::string line;
    std::getline(index, line);
    if (line != kIndexHeader) {
        error = "not a demo phone folder: " + (folder / kIndexName).string();
        return nullptr;
    }
    PhoneConfig config = demoPhoneConfig();
    std::vector<SimFile> files;
    std::vector<SimulatedPhone::SeemRecordCopy> seems;
    while (std::getline(index, line)) {
        std::istringstream fields(line);
        std::string kind, a, b, stored;
        fields >> kind >> a >> b >> stored;
        const std::optional<uint32_t> first = number(a, kind == "free" || kind == "interface" ? 10 : 16);
        const std::optional<uint32_t> second = number(b, 16);
        const std::optional<std::string> name = fromHex(a);
        // Stored names are ours, plain names inside the folder.
        const bool plain = !stored.empty() && stored.find_first_of("/\\") == std::string::npos && stored != "..";
        if (kind == "free" && first) {
            config.freeSpace = *first;
        } else if (kind == "interface" && first && *first <= kLargestInterfaceNumber) {
            config.commandInterface = static_cast<uint8_t>(*first);
        } else if (kind == "file" && name && second && plain) {
            SimFile file{*name, *second, {}};
            if (!readBytes(folder / "files" / stored, file.content, error))
                return nullptr;
            files.push_back(std::move(file));
        } else if (kind == "seem" && first && second && plain) {
            SimulatedPhone::SeemRecordCopy copy{static_cast<uint16_t>(*first), static_cast<uint16_t>(*second), {}};
            if (!readBytes(folder / "seem" / stored, copy.bytes, error))
                return nullptr;
            seems.push_back(std::move(copy));
        } else if (!line.empty()) {
            error = "damaged line in " + (folder / kIndexName).string() + ": " + line;
            return nullptr;
        }
    }
    auto loaded = std::make_unique<SimulatedPhone>(clock, config);
    for (SimFile& file : files)
        loaded->addFile(std::move(file));
    for (auto& copy : seems)
        loaded->setSeemRecord(copy.seem, copy.record, std::move(copy.bytes));
    return loaded;
}

} // namespace

std::unique_ptr<SimulatedPhone> openDemoFolder(Clock& clock, const std::string& folderName, std::string& error)
{
    const fs::path folder = fs::u8path(folderName);
    std::error_code code;
    if (fs::exists(folder / kIndexName, code))
        return loadIndex(clock, folder, error);
    if (fs::exists(folder, code) && !fs::is_empty(folder, code)) {
        error = "the folder is not empty and holds no demo phone: " + folderName;
        return nullptr;
    }
    auto phone = makeDemoPhone(clock);
    if (!saveDemoFolder(*phone, folderName, error))
        return nullptr;
    return phone;
}

bool saveDemoFolder(const SimulatedPhone& phone, const std::string& folderName, std::string& error)
{
    const fs::path folder = fs::u8path(folderName);
    std::error_code code;
    // Only the tool's own subfolders are replaced.
    fs::remove_all(folder / "files", code);
    fs::remove_all(folder / "seem", code);
    fs::create_directories(folder / "files", code);
    fs::create_directories(folder / "seem", code);
    std::ofstream index(folder / kIndexName, std::ios::trunc);
    if (code || !index)
        return cannotWrite(folderName, error);
    index << kIndexHeader << "\n";
    // Named only for a phone that differs from the usual one.
    if (const uint8_t number = phone.config().commandInterface; number != kUsualCommandInterface)
        index << "interface " << unsigned{number} << "\n";
    index << "free " << phone.freeSpace() << "\n";
    const std::vector<SimFile> files = phone.files();
    bool written = true;
    for (size_t i = 0; i < files.size(); ++i) {
        char attributes[16];
        std::snprintf(attributes, sizeof attributes, "%x", files[i].attributes);
        const std::string stored = storedFileName(i);
        index << "file " << toHex(files[i].name) << ' ' << attributes << ' ' << stored << "\n";
        written &= writeBytes(folder / "files" / stored, files[i].content);
    }
    for (const auto& copy : phone.seemRecords()) {
        const std::string stored = storedSeemName(copy.seem, copy.record);
        char numbers[32];
        std::snprintf(numbers, sizeof numbers, "%x %x", copy.seem, copy.record);
        index << "seem " << numbers << ' ' << stored << "\n";
        written &= writeBytes(folder / "seem" / stored, copy.bytes);
    }
    if (!written || !index)
        return cannotWrite(folderName, error);
    return true;
}

} // namespace p2k::sim
