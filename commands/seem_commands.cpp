#include "commands/seem_commands.h"

#include "core/hex_field.h"
#include "commands/pc_names.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace p2k {

namespace {

constexpr size_t kFieldChars = 15;
constexpr uint32_t kLargestNumber = 0xFFFF;
constexpr uint32_t kLastRecord = 128;
constexpr uint32_t kProfilesSeem = 0x004C;
constexpr uint32_t kProfilesRecord = 1;
constexpr uint32_t kStepWaitMs = 500;
constexpr size_t kProfileOffsets[] = {1, 2, 12, 13, 23, 24, 34, 35, 45, 46};
constexpr uint8_t kPatchedValue = 0x02;

std::string seemFileName(uint32_t seem, uint32_t record)
{
    return hex4(seem) + "_" + hex4(record) + ".seem";
}

} // namespace

std::string hex4(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.4x", value);
    return text;
}

// Reads a field as hex, clamps it, and shows the number that will be used.
uint32_t SeemCommands::takeField(int controlId, uint32_t tooLargeBecomes, bool zeroBecomesOne)
{
    const std::string text = c_.window.fieldText(controlId).substr(0, kFieldChars);
    uint32_t value = parseHexField(text);
    if (value >= kLargestNumber)
        value = tooLargeBecomes;
    if (zeroBecomesOne && value == 0)
        value = 1;
    c_.window.setFieldText(controlId, hex4(value));
    return value;
}

// A read that delivered a status byte of 0.
bool SeemCommands::readRecord(uint32_t seem, uint32_t record)
{
    return c_.seem.readSeem(seem, record, 0, 0, answer_) == kOk && c_.seem.answerLength() >= 1 && answer_[0] == 0;
}

// The last answer less its status byte; 0 when not even that came.
uint32_t SeemCommands::recordLength() const
{
    const uint32_t answered = std::min<uint32_t>(c_.seem.answerLength(), SeemAccess::kMaxAnswer);
    return answered > 0 ? answered - 1 : 0;
}

bool SeemCommands::fitsOneWrite(uint32_t length) const
{
    return length + SeemAccess::kHeaderSize <= TestCommandChannel::kMaxRequestData;
}

// Saves the last answer's record; a record not saved gets its own log line.
// An existing file keeps its content.
bool SeemCommands::saveRecord(const std::string& folder, uint32_t seem, uint32_t record)
{
    const std::string name = seemFileName(seem, record);
    const std::string path = pathInFolder(folder, name);
    const char* reason = nullptr;
    if (std::unique_ptr<PcFile> file = c_.pcFiles.createNew(path); !file) {
        reason = c_.pcFiles.openExisting(path) ? "такой файл уже есть" : "не могу создать файл";
    } else if (!file->writeAll(std::span(answer_).subspan(1, recordLength()))) {
        file.reset();
        c_.pcFiles.removeIncomplete(path);
        reason = "не могу записать";
    }
    if (reason == nullptr)
        return true;
    c_.log.appendLog("Не сохранил " + name + ": " + reason + "\r\n");
    return false;
}

bool SeemCommands::downloadSeemRange()
{
    const std::optional<DialogChoice> choice = c_.dialogs.showSave("xxxx_yyyy.seem");
    if (!choice)
        return false;
    // The dialog only picks the folder.
    const std::string folder = folderOf(choice->path);
    if (!folder.empty())
        c_.pcFiles.setCurrentDirectory(folder);

    c_.log.appendLog("Скачиваем СИМ из ");
    const uint32_t first = takeField(control::kSeemRangeStart, kLargestNumber);
    c_.log.appendLog(hex4(first));
    const uint32_t last = takeField(control::kSeemRangeEnd, kLargestNumber);
    c_.log.appendLog(" to " + hex4(last) + "\r\n");
    c_.log.appendLog("Пагодь пару минут...\r\n");
    c_.window.setProgressRange(first, last);
    c_.window.setProgressPosition(0);

    uint32_t unsaved = 0;
    uint32_t seem = first;
    do {
        for (uint32_t record = 1; record <= kLastRecord; ++record) {
            if (c_.fileSystem.interrupted())
                return false;
            c_.window.setProgressPosition(seem);
            // A failed read, a non-zero status or an answer without record
            // bytes (status 6, or the status byte alone) ends this SEEM's records.
            if (!readRecord(seem, record) || recordLength() == 0)
                break;
            if (!saveRecord(folder, seem, record))
                ++unsaved;
        }
        ++seem;
    } while (seem <= last);
    if (unsaved > 0)
        c_.log.appendLog("Не сохранено записей: " + std::to_string(unsaved) + "\r\n");
    c_.log.appendLog("Done.\r\n");
    return unsaved == 0;
}

// Every early end names its reason after the line begun by the command.
bool SeemCommands::endUpload(const std::string& reason)
{
    c_.log.appendLog(" - " + reason + "\r\n");
    return false;
}

bool SeemCommands::writeBackFrom(const DialogChoice& choice, uint32_t seem, uint32_t record)
{
    const uint32_t length = recordLength();
    const std::unique_ptr<PcFile> file = c_.pcFiles.openExisting(choice.path);
    if (!file)
        return endUpload("Косяк!! Не могу открыть файл!");
    const std::optional<uint64_t> size = file->size();
    if (!size)
        return endUpload("Косяк!! Не могу узнать размер файла");
    if (*size != length)
        return endUpload("Косяк!! Размер файла неправильный! В файле " + std::to_string(*size) + " байт, в записи " +
                         std::to_string(length));
    if (!file->readAll(c_.seem.dataBuffer().first(length)))
        return endUpload("Косяк!! Файл на компе не читается");
    if (c_.seem.writeSeem(seem, record, 0, length) != kOk)
        return endUpload("Косяк!! Телефон запись не принял");
    return true;
}

bool SeemCommands::uploadSeemRecord()
{
    c_.log.appendLog("Закачиваем СИМ N ");
    const uint32_t seem = takeField(control::kSeemNumber, kLargestNumber);
    c_.log.appendLog(hex4(seem));
    const uint32_t record = takeField(control::kSeemRecord, 1, true);
    c_.log.appendLog("запись N " + hex4(record));
    if (!readRecord(seem, record))
        return endUpload("Косяк!! Запись с телефона не читается");
    // Writing nothing would make the phone take a byte nobody supplied.
    if (recordLength() == 0)
        return endUpload("Косяк!! Пустую запись назад не пишу");
    if (!fitsOneWrite(recordLength()))
        return endUpload("Косяк!! Запись длиннее, чем телефон примет за раз");
    const std::optional<DialogChoice> choice = c_.dialogs.showOpen();
    if (!choice)
        return endUpload("Отменено");
    if (!writeBackFrom(*choice, seem, record))
        return false;
    c_.log.appendLog(" ok\r\n");
    return true;
}

// The profiles record as read: there, non-empty, and short enough to go back.
bool SeemCommands::patchableProfiles(bool read)
{
    if (!read) {
        c_.log.appendLog("Косяк!! Профили не прочитались, ничего не меняю\r\n");
        return false;
    }
    if (recordLength() == 0 || !fitsOneWrite(recordLength())) {
        c_.log.appendLog("Косяк!! Профили такой длины назад не записать, ничего не меняю\r\n");
        return false;
    }
    return true;
}

bool SeemCommands::updateRingtones()
{
    const bool read = readRecord(kProfilesSeem, kProfilesRecord);
    c_.log.appendLog("Читаем профили..\r\n");
    c_.clock.sleepMs(kStepWaitMs);
    if (!patchableProfiles(read))
        return false;
    const uint32_t length = recordLength();
    const std::span<uint8_t> data = c_.seem.dataBuffer();
    std::copy_n(answer_.begin() + 1, length, data.begin());
    for (size_t offset : kProfileOffsets)
        data[offset] = kPatchedValue;
    // The sequence goes on whatever the write gives; the result reports it.
    const bool written = c_.seem.writeSeem(kProfilesSeem, kProfilesRecord, 0, length) == kOk;
    c_.clock.sleepMs(kStepWaitMs);
    c_.log.appendLog("Обновляем профили..\r\n");
    c_.fileSystem.deleteFile("MyToneDB.db");
    c_.log.appendLog("База рингтонов удалена\r\n");
    c_.clock.sleepMs(kStepWaitMs);
    c_.seem.restartPhone();
    return written;
}

} // namespace p2k
