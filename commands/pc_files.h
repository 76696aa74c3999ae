#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace p2k {

// One open PC file, closed when destroyed.
class PcFile {
public:
    virtual ~PcFile() = default;
    virtual std::optional<uint64_t> size() = 0;
    // True only when all of buffer was read, or written.
    virtual bool readAll(std::span<uint8_t> buffer) = 0;
    virtual bool writeAll(std::span<const uint8_t> data) = 0;
};

// The PC's files. Paths are UTF-8.
class PcFiles {
public:
    virtual ~PcFiles() = default;
    // An existing file, opened for reading only and shared with other
    // readers, so a read-only file can be read; null when missing or in use
    // by a writer.
    virtual std::unique_ptr<PcFile> openExisting(const std::string& path) = 0;
    // A new file; null when one of that name exists or it cannot be made.
    // Never overwrites.
    virtual std::unique_ptr<PcFile> createNew(const std::string& path) = 0;
    // Removes a file this program has just created and could not complete.
    virtual void removeIncomplete(const std::string& path) = 0;
    virtual void setCurrentDirectory(const std::string& folder) = 0;
};

// PC files through the C++ standard library (the command-line tool, tests).
std::unique_ptr<PcFiles> makeStandardPcFiles();

} // namespace p2k
