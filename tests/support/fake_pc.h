#pragma once

#include "commands/file_dialogs.h"
#include "commands/pc_files.h"

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace p2k::test {

// The PC's files in memory. Tracks open files, so tests can check that a
// command leaves none open.
class FakePcFiles : public PcFiles {
public:
    struct Stored {
        std::vector<uint8_t> bytes;
        bool heldByWriter = false; // another program has it open for writing
    };

    std::unique_ptr<PcFile> openExisting(const std::string& path) override
    {
        auto it = files.find(path);
        if (it == files.end() || it->second.heldByWriter)
            return nullptr;
        return std::make_unique<File>(*this, it->second.bytes, false);
    }
    std::unique_ptr<PcFile> createNew(const std::string& path) override
    {
        if (files.count(path) || failCreate)
            return nullptr;
        created.push_back(path);
        return std::make_unique<File>(*this, files[path].bytes, true);
    }
    void removeIncomplete(const std::string& path) override { files.erase(path); }
    void setCurrentDirectory(const std::string& folder) override { currentDirectory = folder; }

    std::map<std::string, Stored> files;
    std::vector<std::string> created;
    std::string currentDirectory;
    int openCount = 0;
    bool failCreate = false;
    bool failWrite = false;

private:
    class File : public PcFile {
    public:
        File(FakePcFiles& owner, std::vector<uint8_t>& bytes, bool writable)
            : owner_(owner), bytes_(bytes), writable_(writable)
        {
            ++owner_.openCount;
        }
        ~File() override { --owner_.openCount; }
        std::optional<uint64_t> size() override { return bytes_.size(); }
        bool readAll(std::span<uint8_t> buffer) override
        {
            if (buffer.size() > bytes_.size())
                return false;
            std::copy_n(bytes_.begin(), buffer.size(), buffer.begin());
            return true;
        }
        bool writeAll(std::span<const uint8_t> data) override
        {
            if (!writable_)
                return false;
            // A failing disk takes part of the data, as a real one might.
            const size_t taken = owner_.failWrite ? data.size() / 2 : data.size();
            bytes_.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(taken));
            return !owner_.failWrite;
        }

    private:
        FakePcFiles& owner_;
        std::vector<uint8_t>& bytes_;
        bool writable_;
    };
};

// Dialogs that answer from a script: each call takes the next answer
// (empty: cancelled) and records what was proposed.
class FakeDialogs : public FileDialogs {
public:
    std::optional<DialogChoice> showOpen() override { return next("<open>"); }
    std::optional<DialogChoice> showSave(std::string_view proposedName) override
    {
        return next(std::string(proposedName));
    }

    std::deque<std::optional<DialogChoice>> answers;
    std::vector<std::string> shown;

private:
    std::optional<DialogChoice> next(std::string what)
    {
        shown.push_back(std::move(what));
        if (answers.empty())
            return std::nullopt;
        std::optional<DialogChoice> answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

} // namespace p2k::test
