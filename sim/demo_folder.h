#pragma once

#include "link/clock.h"
#include "sim/simulated_phone.h"

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace p2k::sim {

// An exclusive hold on a lock file, released when destroyed (or when the
// process ends, however it ends).
class FolderLock {
public:
    virtual ~FolderLock() = default;
};

// The writes the demo folder makes, so that each system can lock and flush
// its own way and tests can cut a save off at any write.
class FolderDisk {
public:
    struct LockAttempt {
        std::unique_ptr<FolderLock> lock; // null when not taken
        bool busy = false;                // true: another process holds it
    };

    virtual ~FolderDisk() = default;
    // Takes the lock on path (created when missing) without waiting.
    virtual LockAttempt tryLock(const std::filesystem::path& path) = 0;
    // Writes bytes as the whole content of path; false, with no file left
    // at path, when that fails.
    virtual bool writeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) = 0;
    // Puts everything written into folder so far on the disk. One call for
    // all the files of a save: a flush per file costs far more.
    virtual bool flushWrites(const std::filesystem::path& folder) = 0;
    // Puts from in the place of to in one step: to is the old file or the new one, never neither.
    virtual bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    virtual bool removeFile(const std::filesystem::path& path) = 0;
};

// This system's disk.
std::unique_ptr<FolderDisk> makeFolderDisk();

// A demo phone kept in a PC folder between runs, so that the command-line
// tool can be tried without a phone. The folder holds an index file that
// names every file and SEEM record and the blobs it names under files/ and
// seem/. A save writes new blobs under names the index does not use, then a
// new index, which it renames over the old one; a save cut off at any point
// thus leaves the old state or the new one. One process at a time: the
// folder is locked from open until the DemoFolder goes.
class DemoFolder {
public:
    // How long a second run waits for the lock before it gives up.
    static constexpr uint32_t kLockWaitMs = 5000;
    static constexpr uint32_t kLockPollMs = 100;

    // Loads the phone kept in folder; a missing or empty folder gets the
    // demo phone's content. Null, with error set, when the folder cannot be
    // used.
    static std::unique_ptr<DemoFolder> open(Clock& clock, FolderDisk& disk, const std::string& folder,
                                            std::string& error);

    SimulatedPhone& phone() { return *phone_; }

    // Writes what changed since the last load or save; nothing when nothing did.
    bool save(std::string& error);

    struct StoredFile {
        SimFile file;
        std::string blob;
    };
    struct StoredSeem {
        SimulatedPhone::SeemRecordCopy copy;
        std::string blob;
    };
    // What the index names.
    struct Stored {
        uint32_t freeSpace = 0;
        uint8_t commandInterface = kUsualCommandInterface;
        std::vector<StoredFile> files;
        std::vector<StoredSeem> seems;
    };

    DemoFolder(FolderDisk& disk, std::filesystem::path folder, std::unique_ptr<FolderLock> lock,
               std::unique_ptr<SimulatedPhone> phone, Stored stored);

private:
    bool writeState(Stored wanted, std::string& error);
    void removeUnnamedBlobs();

    FolderDisk& disk_;
    std::filesystem::path folder_;
    std::unique_ptr<FolderLock> lock_;
    std::unique_ptr<SimulatedPhone> phone_;
    Stored stored_;
};

} // namespace p2k::sim
