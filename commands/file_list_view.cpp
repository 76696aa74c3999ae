#include "commands/file_list_view.h"

#include "core/cp1251.h"
#include "link/byte_order.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace p2k {

namespace {

constexpr size_t kChunkHeaderSize = 4;
constexpr int kFlagsColumn = 1;
constexpr int kSizeColumn = 2;
constexpr int kNoArrow = -1;

std::string hexText(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

// The size column shows the count as a signed number, as the phone's own
// tools did; sorting uses the unsigned value.
std::string signedDecimalText(uint32_t value)
{
    return std::to_string(static_cast<int32_t>(value));
}

} // namespace

size_t FileListView::nameField() const
{
    return fileSystem_.nameFieldSize();
}

std::string_view FileListView::entryName(const uint8_t* entry) const
{
    const size_t field = nameField();
    const auto* text = reinterpret_cast<const char*>(entry);
    return std::string_view(text, std::find(text, text + field, '\0') - text);
}

uint32_t FileListView::entryFlags(const uint8_t* entry) const
{
    return loadLe32(entry + fileSystem_.entrySize() - 8);
}

uint32_t FileListView::entrySize(const uint8_t* entry) const
{
    return loadLe32(entry + fileSystem_.entrySize() - 4);
}

// The phone's big-endian numbers become little-endian ones in the same
// place, so that the two attribute halves read as one 32-bit flags value.
void FileListView::decodeInPlace(uint8_t* entry) const
{
    uint8_t* numbers = entry + fileSystem_.entrySize() - 8;
    const uint16_t low = loadBe16(numbers);
    const uint16_t high = loadBe16(numbers + 2);
    const uint32_t size = loadBe32(numbers + 4);
    storeLe16(numbers, low);
    storeLe16(numbers + 2, high);
    storeLe32(numbers + 4, size);
}

// Visits the entries chunk by chunk, up to the fetch's entry count, never
// past the bytes the fetch stored. Returns the number of entries visited.
uint32_t FileListView::walkEntries(const EntryVisitor& visit)
{
    const std::span<uint8_t> chunks = fileSystem_.listChunks();
    const size_t entrySize = fileSystem_.entrySize();
    const uint32_t count = fileSystem_.entryCount();
    uint32_t visited = 0;
    size_t chunk = 0;
    while (visited < count && entrySize > 0 && chunk + kChunkHeaderSize <= chunks.size()) {
        const uint16_t entries = loadBe16(&chunks[chunk]);
        size_t entry = chunk + kChunkHeaderSize;
        for (uint16_t i = 0; i < entries && visited < count; ++i, entry += entrySize) {
            if (entry + entrySize > chunks.size())
                return visited;
            ++visited;
            if (!visit(&chunks[entry]))
                return visited;
        }
        chunk = entry;
    }
    return visited;
}

bool FileListView::refreshFileList(MainWindow& window)
{
    control_.deleteAllRows();
    decoded_ = false;
    log_.appendLog("Получаю список файлов...");
    if (fileSystem_.getFileList(window) != kOk) {
        log_.appendLog("Блин, чета пошло не так.. не получилось, короче..\r\n");
        return false;
    }
    log_.appendLog(" ok\r\n");
    control_.beginFill();
    const uint32_t shown = walkEntries([&](uint8_t* entry) {
        decodeInPlace(entry);
        control_.insertRowAtTop(entryName(entry), hexText(entryFlags(entry)), signedDecimalText(entrySize(entry)),
                                entry);
        return true;
    });
    control_.endFill();
    decoded_ = true;
    log_.appendLog("Найдено файлов:" + std::to_string(shown) + "\r\n");
    showVolumeInfo();
    return true;
}

void FileListView::showVolumeInfo()
{
    log_.appendLog("Информация о носителе:\r\n");
    if (fileSystem_.getVolumeName(volumeName_) != kOk) {
        log_.appendLog("Косяк! Не могу определить имя носителя!\r\n");
        return;
    }
    // Each big-endian unit gives its low byte; a zero low byte ends the name.
    std::string name;
    for (size_t unit = 0; unit < volumeName_.size() / 2 && volumeName_[2 * unit + 1] != 0; ++unit)
        name += static_cast<char>(volumeName_[2 * unit + 1]);
    log_.appendLog("Name: " + cp1251ToUtf8(name) + "\r\n");
    if (fileSystem_.getFreeSpace(volumeName_) != kOk) {
        log_.appendLog("Косяк! Не могу определить размер носителя!\r\n\r\n");
        return;
    }
    log_.appendLog("Свободного места еще: " + std::to_string(fileSystem_.freeSpace() / 1024) + "КБ\r\n");
}

// A name matches when its bytes equal the field's up to a zero in both, or
// over the whole field (so a longer name whose start fills the field matches).
const uint8_t* FileListView::findEntry(std::string_view name)
{
    if (!decoded_)
        return nullptr;
    const std::string_view wanted = name.substr(0, std::min(name.find('\0'), nameField()));
    const uint8_t* found = nullptr;
    walkEntries([&](uint8_t* entry) {
        if (entryName(entry) == wanted)
            found = entry;
        return found == nullptr;
    });
    return found;
}

uint32_t FileListView::lookupFileSize(std::string_view name)
{
    const uint8_t* entry = findEntry(name);
    return entry ? entrySize(entry) : kNotFound;
}

uint32_t FileListView::lookupFileFlags(std::string_view name)
{
    const uint8_t* entry = findEntry(name);
    return entry ? entryFlags(entry) : kNotFound;
}

int FileListView::compareRows(const uint8_t* first, const uint8_t* second, int column) const
{
    int after = 0;
    if (column == kFlagsColumn) {
        after = entryFlags(first) >= entryFlags(second);
    } else if (column == kSizeColumn) {
        after = entrySize(first) >= entrySize(second);
    } else {
        for (size_t i = 0; i < nameField(); ++i) {
            if (first[i] != second[i]) {
                after = first[i] > second[i];
                break;
            }
            if (first[i] == 0)
                break;
        }
    }
    return after ^ sortDirection_;
}

void FileListView::sortByColumn(int column)
{
    if (column == sortColumn_)
        sortDirection_ ^= 1;
    control_.setColumnArrow(sortColumn_, kNoArrow);
    control_.setColumnArrow(column, sortDirection_);
    sortColumn_ = column;
    control_.sortRows([this, column](const uint8_t* a, const uint8_t* b) { return compareRows(a, b, column); });
}

} // namespace p2k
