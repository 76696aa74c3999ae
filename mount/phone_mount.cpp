#include "mount/phone_mount.h"

#include "core/cp1251.h"

#include <algorithm>
#include <cerrno>

namespace p2k::mount {

namespace {

// The attribute value: decimal digits only, at most 65536, as the command's field takes.
std::optional<uint32_t> attributeValue(const std::string& text)
{
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return std::nullopt;
    const uint32_t value = attributeFieldValue(text);
    if (value == 0 && text.find_first_not_of('0') != std::string::npos)
        return std::nullopt;
    return value;
}

} // namespace

PhoneMount::PhoneMount(PhoneLink& link, TestCommandChannel& channel, OperatorLog& log, LogSink& pane, Clock& clock,
                       MountSettings settings, PhoneConnector connector, ChangeKeeper keeper)
    : link_(link), pane_(pane), clock_(clock), settings_(settings), connector_(std::move(connector)),
      keeper_(std::move(keeper)), window_(pane),
      commands_(channel, log, clock, {window_, list_, dialogs_, transfer_, autoRefresh_})
{
}

int PhoneMount::fail(int error, const std::string& path, const std::string& reason)
{
    lastReason_ = path.empty() ? reason : path + ": " + reason;
    pane_.append("p2kfm-mount: " + lastReason_ + "\n");
    return error;
}

// The phone is gone or refused: the next call opens it again.
int PhoneMount::lostPhone()
{
    link_.release();
    listFresh_ = false;
    return -EIO;
}

// Connected, with a list no older than the cache time.
int PhoneMount::ready()
{
    if (!link_.hasDevice()) {
        std::unique_ptr<UsbTransport> device = connector_();
        if (!device)
            return fail(-EIO, "", "no phone");
        link_.attach(std::move(device));
        listFresh_ = false;
    }
    if (listFresh_ && clock_.tickMs() - listFetchedAt_ < settings_.listCacheMs)
        return 0;
    return refreshList();
}

int PhoneMount::refreshList()
{
    if (!commands_.listView().refreshFileList(window_)) {
        lostPhone();
        return fail(-EIO, "", "the phone's file list could not be fetched");
    }
    rebuildNames();
    listFresh_ = true;
    listFetchedAt_ = clock_.tickMs();
    return 0;
}

void PhoneMount::rebuildNames()
{
    FileListView& view = commands_.listView();
    std::vector<PhoneEntry> entries;
    usedBytes_ = 0;
    // Rows are inserted at the top: the list's own order is from the bottom.
    for (auto row = list_.rows.rbegin(); row != list_.rows.rend(); ++row) {
        entries.push_back({row->name, view.entryFlags(row->entry), view.entrySize(row->entry)});
        usedBytes_ += entries.back().size;
    }
    names_.rebuild(entries, {kRefreshControlPath});
}

PhoneMount::OpenFile* PhoneMount::openFile(uint64_t handle)
{
    const auto it = openFiles_.find(handle);
    return it == openFiles_.end() ? nullptr : &it->second;
}

// A file made on the mount and not yet on the phone.
PhoneMount::OpenFile* PhoneMount::pendingAt(const std::string& path)
{
    for (auto& [handle, file] : openFiles_)
        if (file.path == path && file.dirty && !names_.file(path))
            return &file;
    return nullptr;
}

uint64_t PhoneMount::addOpenFile(OpenFile file)
{
    openFiles_.emplace(nextHandle_, std::move(file));
    return nextHandle_++;
}

int PhoneMount::keepChange()
{
    if (keeper_ && !keeper_())
        return fail(-EIO, "", "the change could not be kept");
    return 0;
}

int PhoneMount::getattr(const std::string& path, NodeInfo& info)
{
    if (const int error = ready())
        return error;
    if (const OpenFile* pending = pendingAt(path)) {
        info = {false, pending->bytes.size()};
    } else if (path == kRefreshControlPath) {
        info = {false, 0};
    } else if (const PhoneEntry* entry = names_.file(path)) {
        info = {false, entry->size};
    } else if (names_.isFolder(path)) {
        info = {true, 0};
    } else {
        return -ENOENT;
    }
    return 0;
}

int PhoneMount::readdir(const std::string& path, std::vector<std::string>& names)
{
    if (const int error = ready())
        return error;
    if (!names_.isFolder(path))
        return names_.file(path) ? -ENOTDIR : -ENOENT;
    names = names_.children(path);
    if (path == "/")
        names.push_back(lastPartOf(kRefreshControlPath));
    for (const auto& [handle, file] : openFiles_)
        if (parentOf(file.path) == path && pendingAt(file.path) == &file)
            names.push_back(lastPartOf(file.path));
    return 0;
}

int PhoneMount::open(const std::string& path, bool truncate, uint64_t& handle)
{
    if (const int error = ready())
        return error;
    if (path == kRefreshControlPath) {
        handle = addOpenFile({path, {}, true, {}, true, false});
        return refreshList();
    }
    OpenFile file{path, {}, false, {}, false, false};
    if (const OpenFile* pending = pendingAt(path))
        file = *pending;
    else if (const PhoneEntry* entry = names_.file(path))
        file.entry = *entry;
    else
        return names_.isFolder(path) ? -EISDIR : -ENOENT;
    if (truncate) {
        file.bytes.clear();
        file.loaded = file.dirty = true;
    }
    handle = addOpenFile(std::move(file));
    return 0;
}

int PhoneMount::create(const std::string& path, uint64_t& handle)
{
    if (const int error = ready())
        return error;
    if (path == kRefreshControlPath || names_.file(path))
        return open(path, true, handle);
    if (!names_.isFolder(parentOf(path)))
        return -ENOENT;
    const std::optional<std::string> phoneName = phoneNameFor(path);
    if (!phoneName)
        return fail(-EILSEQ, path, "the phone's code page cannot carry this name");
    if (phoneName->size() > commands_.fileSystem().nameFieldSize())
        return fail(-ENAMETOOLONG, path, "the name is longer than the phone takes");
    handle = addOpenFile({path, {*phoneName, 0, 0}, false, {}, true, true});
    return 0;
}

int PhoneMount::download(const PhoneEntry& entry, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    // An empty file needs no read (the phone cannot answer one).
    if (entry.size == 0)
        return 0;
    list_.select({entry.phoneName});
    if (!commands_.files().downloadSelectedFiles()) {
        lostPhone();
        return fail(-EIO, cp1251ToUtf8(entry.phoneName), "the phone did not give the file");
    }
    bytes = std::move(transfer_.bytes);
    transfer_.bytes.clear();
    return 0;
}

int PhoneMount::load(OpenFile& file)
{
    if (file.loaded)
        return 0;
    if (file.entry.size > settings_.fileCacheLimit)
        return fail(-EFBIG, file.path, "the file is larger than the mount holds in memory");
    if (const int error = ready())
        return error;
    if (const int error = download(file.entry, file.bytes))
        return error;
    file.loaded = true;
    return 0;
}

int PhoneMount::read(uint64_t handle, uint64_t offset, size_t size, std::vector<uint8_t>& out)
{
    OpenFile* file = openFile(handle);
    if (!file)
        return -EBADF;
    if (const int error = load(*file))
        return error;
    out.clear();
    if (offset < file->bytes.size()) {
        const size_t count = std::min<uint64_t>(size, file->bytes.size() - offset);
        const auto first = file->bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        out.assign(first, first + static_cast<std::ptrdiff_t>(count));
    }
    return 0;
}

int PhoneMount::resize(OpenFile& file, uint64_t size)
{
    if (file.control)
        return 0;
    if (size > settings_.fileCacheLimit)
        return fail(-EFBIG, file.path, "the file is larger than the mount holds in memory");
    if (const int error = load(file))
        return error;
    file.bytes.resize(static_cast<size_t>(size));
    file.dirty = true;
    return 0;
}

int PhoneMount::write(uint64_t handle, uint64_t offset, std::span<const uint8_t> data)
{
    OpenFile* file = openFile(handle);
    if (!file)
        return -EBADF;
    if (file->control)
        return 0;
    if (const int error = load(*file))
        return error;
    const uint64_t end = offset + data.size();
    if (end > file->bytes.size())
        if (const int error = resize(*file, end))
            return error;
    std::copy(data.begin(), data.end(), file->bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    file->dirty = true;
    return 0;
}

int PhoneMount::truncateOpen(uint64_t handle, uint64_t size)
{
    OpenFile* file = openFile(handle);
    return file ? resize(*file, size) : -EBADF;
}

int PhoneMount::truncate(const std::string& path, uint64_t size)
{
    uint64_t handle = 0;
    if (const int error = open(path, size == 0, handle))
        return error;
    int result = truncateOpen(handle, size);
    if (result == 0)
        result = flush(handle);
    release(handle);
    return result;
}

bool PhoneMount::deleteListed(const std::string& phoneName)
{
    list_.select({phoneName});
    return commands_.files().deleteSelectedFiles();
}

// Replaces cleanly: the whole file must fit before anything is deleted; an
// existing file goes first, and a failed upload leaves nothing behind.
int PhoneMount::upload(OpenFile& file)
{
    file.dirty = false; // close reports a failure once; nothing is retried on release
    const std::string shown = cp1251ToUtf8(file.entry.phoneName);
    if (file.bytes.empty())
        return fail(-EINVAL, file.path, "the phone takes no empty files");
    listFresh_ = false; // the free space and the names as they are now
    if (const int error = ready())
        return error;
    const uint32_t freeSpace = commands_.fileSystem().freeSpace();
    if (file.bytes.size() >= freeSpace)
        return fail(-ENOSPC, file.path,
                    std::to_string(file.bytes.size()) + " bytes do not fit into " + std::to_string(freeSpace) +
                        " free bytes");
    if (commands_.listView().lookupFileSize(file.entry.phoneName) != FileListView::kNotFound &&
        !deleteListed(file.entry.phoneName)) {
        lostPhone();
        return fail(-EIO, file.path, "the old file could not be deleted");
    }
    transfer_.bytes = file.bytes;
    dialogs_.uploadName = shown;
    window_.setFieldText(control::kUploadPath, "");
    const bool uploaded = commands_.files().uploadFile();
    transfer_.bytes.clear();
    if (!uploaded)
        return failedUpload(file);
    if (const int error = refreshList())
        return error;
    return keepChange();
}

// The upload has removed its own piece where it could; whether one stays,
// only the phone's list can tell, and a phone that went away cannot show it.
int PhoneMount::failedUpload(const OpenFile& file)
{
    const bool nothingLeft =
        refreshList() == 0 && commands_.listView().lookupFileSize(file.entry.phoneName) == FileListView::kNotFound;
    lostPhone();
    return fail(-EIO, file.path,
                nothingLeft ? "the upload failed; nothing of it is left on the phone"
                            : "the upload failed, and a piece of it may be left on the phone; delete it once the "
                              "phone is back");
}

int PhoneMount::flush(uint64_t handle)
{
    OpenFile* file = openFile(handle);
    if (!file)
        return -EBADF;
    return file->dirty && !file->control ? upload(*file) : 0;
}

int PhoneMount::release(uint64_t handle)
{
    const int result = flush(handle);
    openFiles_.erase(handle);
    return result;
}

int PhoneMount::unlink(const std::string& path)
{
    if (const int error = ready())
        return error;
    const PhoneEntry* entry = names_.file(path);
    if (!entry)
        return names_.isFolder(path) ? -EISDIR : path == kRefreshControlPath ? -EPERM : -ENOENT;
    if (!deleteListed(entry->phoneName)) {
        lostPhone();
        return fail(-EIO, path, "the phone did not delete the file");
    }
    if (const int error = refreshList())
        return error;
    return keepChange();
}

int PhoneMount::mkdir(const std::string& path)
{
    if (const int error = ready())
        return error;
    if (names_.isFolder(path) || names_.file(path) || path == kRefreshControlPath)
        return -EEXIST;
    if (!names_.isFolder(parentOf(path)))
        return -ENOENT;
    if (!phoneNameFor(path))
        return fail(-EILSEQ, path, "the phone's code page cannot carry this name");
    names_.addEmptyFolder(path);
    return 0;
}

int PhoneMount::rmdir(const std::string& path)
{
    if (const int error = ready())
        return error;
    if (!names_.isFolder(path))
        return names_.file(path) ? -ENOTDIR : -ENOENT;
    if (path == "/")
        return -EBUSY;
    return names_.removeEmptyFolder(path) ? 0 : -ENOTEMPTY;
}

int PhoneMount::rename(const std::string& from, const std::string&)
{
    if (const int error = ready())
        return error;
    return fail(-EXDEV, from, "the phone cannot rename; copy and delete instead");
}

int PhoneMount::chmod(const std::string& path)
{
    return fail(-EPERM, path, std::string("the phone has no modes; its attributes are the extended attribute ") +
                                  kAttributesXattr);
}

int PhoneMount::touch(const std::string& path)
{
    if (const int error = ready())
        return error;
    if (path == kRefreshControlPath)
        return refreshList();
    return names_.file(path) || names_.isFolder(path) || pendingAt(path) ? 0 : -ENOENT;
}

int PhoneMount::statfs(SpaceInfo& space)
{
    if (const int error = ready())
        return error;
    space = {commands_.fileSystem().freeSpace(), usedBytes_};
    return 0;
}

int PhoneMount::getxattr(const std::string& path, const std::string& name, std::string& value)
{
    if (const int error = ready())
        return error;
    const PhoneEntry* entry = names_.file(path);
    if (!entry)
        return names_.isFolder(path) || path == kRefreshControlPath || pendingAt(path) ? -ENODATA : -ENOENT;
    if (name != kAttributesXattr)
        return -ENODATA;
    value = std::to_string(entry->attributes);
    return 0;
}

int PhoneMount::setxattr(const std::string& path, const std::string& name, const std::string& value)
{
    if (const int error = ready())
        return error;
    const PhoneEntry* entry = names_.file(path);
    if (!entry)
        return names_.isFolder(path) ? -ENOTSUP : -ENOENT;
    if (name != kAttributesXattr)
        return fail(-ENOTSUP, path, std::string("the phone keeps only ") + kAttributesXattr);
    const std::optional<uint32_t> attributes = attributeValue(value);
    if (!attributes)
        return fail(-EINVAL, path, "attributes are a decimal number of at most 65536");
    window_.setFieldText(control::kAttributes, value);
    list_.select({entry->phoneName});
    if (!commands_.files().changeAttributes()) {
        lostPhone();
        return fail(-EIO, path, "the phone did not change the attributes");
    }
    if (const int error = refreshList())
        return error;
    return keepChange();
}

int PhoneMount::listxattr(const std::string& path, std::vector<std::string>& names)
{
    if (const int error = ready())
        return error;
    names.clear();
    if (names_.file(path))
        names.push_back(kAttributesXattr);
    return 0;
}

} // namespace p2k::mount
