#include "commands/file_transfer.h"

#include "core/cp1251.h"
#include "commands/pc_names.h"

#include <cctype>
#include <new>

namespace p2k {

namespace {

constexpr uint32_t kLargestAttribute = 65536;
constexpr const char* kPhoneOpenRefused = " - Косяк!! Телефон не открыл файл\r\n";

// A zero-filled buffer of size bytes; false when memory is short.
bool allocate(std::vector<uint8_t>& buffer, uint64_t size)
{
    try {
        buffer.assign(static_cast<size_t>(size), 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// At most count UTF-8 characters of text, as an edit field of that limit holds.
std::string firstCharacters(std::string_view text, size_t count)
{
    size_t end = 0;
    for (size_t chars = 0; end < text.size() && chars < count; ++chars) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            ++end;
    }
    return std::string(text.substr(0, end));
}

} // namespace

uint32_t attributeFieldValue(std::string_view text)
{
    // Blanks around the number are allowed, as in a dialog's number field.
    const size_t first = text.find_first_not_of(' ');
    const size_t last = text.find_last_not_of(' ');
    if (first == std::string_view::npos)
        return 0;
    const std::string_view digits = text.substr(first, last - first + 1);
    uint64_t value = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > 0xFFFFFFFFull)
            return 0;
    }
    return value > kLargestAttribute ? 0 : static_cast<uint32_t>(value);
}

// Progress bar 1018 counts the bytes of the file in transfer. Over several
// files each takes an equal share of the bar, so that it counts the files too.
BytesDone FileTransferCommands::startProgress(uint32_t bytes)
{
    MainWindow& window = c_.window;
    if (progressFiles_ <= 1) {
        window.setProgressRange(0, bytes);
        window.setProgressPosition(0);
        return [&window](uint32_t done) { window.setProgressPosition(done); };
    }
    const uint32_t shareStart = progressFile_ * kProgressPerFile;
    window.setProgressRange(0, progressFiles_ * kProgressPerFile);
    window.setProgressPosition(shareStart);
    return [&window, shareStart, bytes](uint32_t done) {
        window.setProgressPosition(shareStart + static_cast<uint32_t>(uint64_t{done} * kProgressPerFile / bytes));
    };
}

uint32_t FileTransferCommands::selectedRowCount()
{
    uint32_t count = 0;
    for (int row = c_.list.nextSelectedRow(-1); row >= 0; row = c_.list.nextSelectedRow(row))
        ++count;
    return count;
}

void FileTransferCommands::refreshIfAutomatic()
{
    if (c_.autoRefresh == 1)
        c_.listView.refreshFileList(c_.window);
}

FileTransferCommands::LoopEnd FileTransferCommands::forEachSelected(std::string_view label, FileStep step)
{
    int cursor = -1;
    progressFile_ = 0;
    for (int row = c_.list.nextSelectedRow(cursor); row >= 0; row = c_.list.nextSelectedRow(cursor)) {
        if (c_.fileSystem.interrupted())
            return LoopEnd::EndedEarly;
        if (cursor != -1)
            ++progressFile_;
        cursor = row;
        c_.log.appendLog(label);
        // The raw bytes of the row's entry, not its shown text: nothing is lost
        // in a round trip through the PC's code page.
        const std::string name(c_.listView.entryName(c_.list.rowEntry(row)));
        c_.log.appendLog(cp1251ToUtf8(name));
        if ((this->*step)(name) == Next::EndCommand)
            return LoopEnd::EndedEarly;
    }
    if (cursor != -1)
        return LoopEnd::Completed;
    c_.log.appendLog("Сначала надо файлы выбрать\r\n");
    return LoopEnd::NothingSelected;
}

// --- upload ---------------------------------------------------------------

// The size text stays as it always read; the reason follows on its own line.
bool FileTransferCommands::sizeFits(uint64_t size)
{
    const char* reason = nullptr;
    if (size == 0)
        reason = "Файл пустой, закачивать нечего\r\n";
    else if (size > 0xFFFFFFFFull)
        reason = "Файл больше 4 ГБ\r\n";
    else if (size >= c_.fileSystem.freeSpace())
        reason = "Файл не меньше свободного места на телефоне\r\n";
    if (reason == nullptr)
        return true;
    c_.log.appendLog("Косяк!! Размер файла неправильный!\r\n");
    c_.log.appendLog(reason);
    return false;
}

bool FileTransferCommands::readPcFile(const DialogChoice& choice, std::vector<uint8_t>& data)
{
    const std::unique_ptr<PcFile> file = c_.pcFiles.openExisting(choice.path);
    if (!file) {
        c_.log.appendLog("Косяк!! Не могу открыть файл!");
        return false;
    }
    const std::optional<uint64_t> size = file->size();
    if (!size) {
        c_.log.appendLog("Косяк!! Не могу узнать размер файла\r\n");
        return false;
    }
    if (!sizeFits(*size))
        return false;
    if (!allocate(data, *size)) {
        c_.log.appendLog("Косяк!! Чета с памятью..\r\n");
        return false;
    }
    if (!file->readAll(data)) {
        c_.log.appendLog("Косяк!! Файл на компе не читается\r\n");
        return false;
    }
    return true;
}

// The field's text joined directly to the title, in the phone's code page;
// empty when a character has no place in it.
std::string FileTransferCommands::phoneNameFor(const DialogChoice& choice)
{
    const std::string name = firstCharacters(c_.window.fieldText(control::kUploadPath), kUploadPathChars) + choice.title;
    c_.log.appendLog(name);
    const std::optional<std::string> phoneName = utf8ToCp1251(name);
    if (!phoneName) {
        c_.log.appendLog(" - Косяк!! Такое имя телефону не передать!\r\n");
        return "";
    }
    return *phoneName;
}

// The name must fit the name field of the last list's entries.
bool FileTransferCommands::phoneNameFits(const std::string& phoneName)
{
    if (phoneName.empty())
        return false;
    if (c_.fileSystem.nameFieldSize() == 0) {
        c_.log.appendLog(" - Косяк!! Сначала получите список файлов\r\n");
        return false;
    }
    if (phoneName.size() > c_.fileSystem.nameFieldSize()) {
        c_.log.appendLog(" - Косяк!! Имя длиннее " + std::to_string(c_.fileSystem.nameFieldSize()) +
                         " байт, телефон такое не примет\r\n");
        return false;
    }
    return true;
}

// Writing over a file keeps its tail, so a name the phone has is replaced
// only with consent, by deleting the old file first.
bool FileTransferCommands::makeRoomFor(const std::string& phoneName, ExistingName existing)
{
    if (c_.listView.lookupFileSize(phoneName) == FileListView::kNotFound)
        return true;
    const bool replace =
        existing == ExistingName::Replace ||
        (existing == ExistingName::Ask &&
         c_.window.askYesNo("", "Файл " + cp1251ToUtf8(phoneName) + " на телефоне уже есть. Заменить?",
                            MainWindow::DefaultButton::No));
    if (!replace) {
        c_.log.appendLog(" - Такой файл на телефоне уже есть, не заменяю\r\n");
        return false;
    }
    if (c_.fileSystem.deleteFile(phoneName) != kOk) {
        c_.log.appendLog(" - Косяк!! Старый файл не удаляется (может, его уже нет - обновите список), "
                         "не заменяю\r\n");
        return false;
    }
    c_.log.appendLog(" - старый файл удалён");
    return true;
}

bool FileTransferCommands::writePhoneFile(const std::string& phoneName, const std::vector<uint8_t>& data)
{
    if (c_.fileSystem.openFile(phoneName, 0) != kOk) {
        c_.log.appendLog(kPhoneOpenRefused);
        removeLeftoverOfFailedOpen(phoneName);
        return false;
    }
    const int written = c_.fileSystem.writeFile(data, startProgress(static_cast<uint32_t>(data.size())));
    if (written != kOk) {
        discardPartialUpload(phoneName);
        return false;
    }
    c_.fileSystem.closeFile();
    return true;
}

// An open whose answer went astray may still have made the file. The last
// list did not show the name, so a file of that name is this upload's own.
void FileTransferCommands::removeLeftoverOfFailedOpen(const std::string& phoneName)
{
    c_.log.setQuietSwitch(1);
    c_.fileSystem.closeFile();
    const bool removed = c_.fileSystem.deleteFile(phoneName) == kOk;
    c_.log.setQuietSwitch(0);
    if (removed)
        c_.log.appendLog("Телефон всё же создал пустой файл - удалён\r\n");
}

// A file that was not written whole must not stay on the phone looking like
// a good one. Serves every way a write ends early, failure or interruption.
void FileTransferCommands::discardPartialUpload(const std::string& phoneName)
{
    // Asking first lets a gone phone say so on a line of its own.
    const bool byOperator = c_.fileSystem.interrupted() && c_.fileSystem.interruptedByOperator();
    c_.log.appendLog(byOperator ? " - Прервано" : " - Косяк!! Не могу записать файл на телефон");
    c_.fileSystem.closeFile();
    if (c_.fileSystem.deleteFile(phoneName) == kOk)
        c_.log.appendLog(", недописанный файл с телефона удалён\r\n");
    else
        c_.log.appendLog(", и удалить недописанный файл не вышло: на телефоне лежит обрывок!\r\n");
}

bool FileTransferCommands::uploadFile(ExistingName existing)
{
    c_.log.appendLog("Закачка...");
    std::array<uint8_t, PhoneFileSystem::kVolumeNameSize> volume{};
    if (c_.fileSystem.getVolumeName(volume) != kOk || c_.fileSystem.getFreeSpace(volume) != kOk) {
        c_.log.appendLog("Чет я потерялся.. носитель не определяю\r\n");
        return false;
    }
    const std::optional<DialogChoice> choice = c_.dialogs.showOpen();
    if (!choice) {
        c_.log.appendLog("Отменено\r\n");
        return false;
    }
    std::vector<uint8_t> data;
    if (!readPcFile(*choice, data))
        return false;
    const std::string phoneName = phoneNameFor(*choice);
    if (!phoneNameFits(phoneName) || !makeRoomFor(phoneName, existing) || !writePhoneFile(phoneName, data))
        return false;
    c_.log.appendLog(" ok\r\n");
    data = {};
    refreshIfAutomatic();
    return true;
}

// --- attribute change -----------------------------------------------------

FileTransferCommands::Next FileTransferCommands::changeOne(std::string_view name)
{
    const uint32_t value = attributeFieldValue(c_.window.fieldText(control::kAttributes));
    if (c_.fileSystem.openFile(name, value) == kOk) {
        c_.log.appendLog(" ok\r\n");
        c_.fileSystem.closeFile();
    } else {
        c_.log.appendLog(kPhoneOpenRefused);
        allChanged_ = false;
    }
    return Next::Continue;
}

bool FileTransferCommands::changeAttributes()
{
    allChanged_ = true;
    const LoopEnd end = forEachSelected("Меняем атрибут..", &FileTransferCommands::changeOne);
    refreshIfAutomatic();
    return end == LoopEnd::Completed && allChanged_;
}

// --- download -------------------------------------------------------------

// The first attempt is silent; only a second one may explain a failure.
int FileTransferCommands::openForDownload(std::string_view name)
{
    const uint32_t flags = c_.listView.lookupFileFlags(name);
    c_.log.setQuietSwitch(1);
    const int first = c_.fileSystem.openFile(name, flags);
    c_.log.setQuietSwitch(0);
    if (first == kOk)
        return kOk;
    return c_.fileSystem.openFile(name, flags);
}

bool FileTransferCommands::readPhoneFile(std::string_view name, std::vector<uint8_t>& data)
{
    const uint32_t size = c_.listView.lookupFileSize(name);
    if (size == FileListView::kNotFound) {
        c_.log.appendLog("Косяк!! Размер файла неправильный!\r\n");
        return false;
    }
    // An empty file has nothing to read; a one-byte file cannot be read.
    if (size == 0)
        return true;
    if (size == 1) {
        c_.log.appendLog("Косяк!! Файл в 1 байт не скачать: телефон отдаёт его так же, как ответ об ошибке\r\n");
        return false;
    }
    if (!allocate(data, size)) {
        c_.log.appendLog("Косяк!! Чета с памятью..\r\n");
        return false;
    }
    if (openForDownload(name) != kOk) {
        c_.log.appendLog("Косяк!! Не могу открыть файл!");
        return false;
    }
    if (c_.fileSystem.seekFile(0, 0) != kOk) {
        c_.log.appendLog("Косяк!! Кэннот сик ту зиро - сами думайте, че эт такое..");
        c_.fileSystem.closeFile();
        return false;
    }
    uint32_t received = 0;
    const int read = c_.fileSystem.readFile(data, size, received, startProgress(size));
    c_.fileSystem.closeFile();
    // A file that arrives shorter than listed is as unreadable as a failed
    // read: a zero-padded copy would pass for the real thing.
    if (read != kOk || received != size) {
        c_.log.appendLog("Косяк!! Не могу прочесть файл!");
        return false;
    }
    return true;
}

// The first file goes where the operator says; the later ones beside it,
// under their own safe titles.
std::optional<std::string> FileTransferCommands::targetPathFor(std::string_view name)
{
    const std::string title = pcTitleForPhoneName(name);
    if (firstFileSaved_)
        return pathInFolder(downloadFolder_, title);
    const std::optional<DialogChoice> choice = c_.dialogs.showSave(title);
    if (!choice) {
        c_.log.appendLog("Отменено\r\n");
        return std::nullopt;
    }
    firstFileSaved_ = true;
    downloadFolder_ = folderOf(choice->path);
    if (!downloadFolder_.empty())
        c_.pcFiles.setCurrentDirectory(downloadFolder_);
    return choice->path;
}

bool FileTransferCommands::savePcFile(const std::string& path, const std::vector<uint8_t>& data)
{
    std::unique_ptr<PcFile> file = c_.pcFiles.createNew(path);
    if (!file) {
        c_.log.appendLog("Косяк!! Не могу создать файл!\r\n");
        return false;
    }
    if (!file->writeAll(data)) {
        c_.log.appendLog("Не могу записать\r\n");
        // The file is ours and incomplete: leave no half-written copy behind.
        file.reset();
        c_.pcFiles.removeIncomplete(path);
        return false;
    }
    return true;
}

FileTransferCommands::Next FileTransferCommands::downloadOne(std::string_view name)
{
    std::vector<uint8_t> data;
    if (!readPhoneFile(name, data))
        return Next::EndCommand;
    const std::optional<std::string> path = targetPathFor(name);
    if (!path || !savePcFile(*path, data))
        return Next::EndCommand;
    c_.log.appendLog(" ok\r\n");
    return Next::Continue;
}

bool FileTransferCommands::downloadSelectedFiles()
{
    firstFileSaved_ = false;
    downloadFolder_.clear();
    progressFiles_ = selectedRowCount();
    const LoopEnd end = forEachSelected("Скачиваем...", &FileTransferCommands::downloadOne);
    progressFiles_ = 1;
    return end == LoopEnd::Completed;
}

// --- delete ---------------------------------------------------------------

FileTransferCommands::Next FileTransferCommands::deleteOne(std::string_view name)
{
    if (!c_.window.askYesNo("", "Действительно удалить?\r\n" + cp1251ToUtf8(name), MainWindow::DefaultButton::Yes)) {
        c_.log.appendLog("Отменено\r\n");
        return Next::EndCommand;
    }
    if (c_.fileSystem.deleteFile(name) != kOk) {
        c_.log.appendLog("Блин, чета пошло не так.. не получилось, короче..\r\n");
        return Next::EndCommand;
    }
    c_.log.appendLog(" ok\r\n");
    return Next::Continue;
}

bool FileTransferCommands::deleteSelectedFiles()
{
    // A "no" or a failed delete ends the command without a refresh.
    const LoopEnd end = forEachSelected("Удаляем...", &FileTransferCommands::deleteOne);
    if (end != LoopEnd::EndedEarly)
        refreshIfAutomatic();
    return end == LoopEnd::Completed;
}

} // namespace p2k
