// The list fetch and the list walk fed arbitrary count answers and chunks
// (then volume answers): the refresh must stay inside the list it stored,
// show no more rows than the phone counted, show exactly the phone's entries
// when the chunks are well-formed, and sort and look up without surprises.

#include "commands/file_list_view.h"
#include "fuzz/fuzz_support.h"
#include "link/byte_order.h"
#include "tests/support/fake_list.h"
#include "tests/support/fake_window.h"

#include <cstdio>

namespace p2k::fuzz {
namespace {

constexpr uint16_t kFileSystem = 0x4A;
constexpr uint32_t kListCount = 7;
constexpr uint32_t kListNext = 8;
constexpr const char* kFetchFailed = "Блин, чета пошло не так.. не получилось, короче..\r\n";
constexpr const char* kFoundLabel = "Найдено файлов:";

struct Entry {
    std::string name;
    std::string flags;
    std::string size;
};

// The entry size a chunk shows: the one its announced count fills exactly,
// else the one its length is a multiple of, 44 first; 0 for none.
uint32_t entrySizeOf(const Bytes& chunk)
{
    if (chunk.size() < 4)
        return 0;
    const size_t entryBytes = chunk.size() - 4;
    const size_t announced = loadBe16(chunk.data());
    if (announced * 44 == entryBytes || announced * 268 == entryBytes)
        return announced * 44 == entryBytes ? 44 : 268;
    return entryBytes % 44 == 0 ? 44 : entryBytes % 268 == 0 ? 268 : 0;
}

// The entries of a fetch whose every chunk holds exactly the entries it
// announces, of one entry size; empty when the chunks say otherwise.
std::optional<std::vector<Entry>> wellFormedEntries(const std::vector<const PlayedRequest*>& chunks, uint32_t count)
{
    if (chunks.empty())
        return std::nullopt;
    const uint32_t size = entrySizeOf(chunks.back()->answer);
    if (size == 0)
        return std::nullopt;
    std::vector<Entry> entries;
    for (const PlayedRequest* chunk : chunks) {
        const Bytes& bytes = chunk->answer;
        if (entrySizeOf(bytes) != size || loadBe16(bytes.data()) * size != bytes.size() - 4)
            return std::nullopt;
        for (size_t at = 4; at < bytes.size(); at += size) {
            const uint8_t* numbers = &bytes[at + size - 8];
            const auto* text = reinterpret_cast<const char*>(&bytes[at]);
            char flags[16];
            std::snprintf(flags, sizeof flags, "%x", loadBe16(numbers) | (uint32_t{loadBe16(numbers + 2)} << 16));
            entries.push_back({std::string(text, std::find(text, text + size - 8, '\0') - text), flags,
                               std::to_string(static_cast<int32_t>(loadBe32(numbers + 4)))});
        }
    }
    if (entries.size() != count)
        return std::nullopt;
    return entries;
}

bool insideList(PhoneFileSystem& fileSystem, const uint8_t* entry)
{
    const std::span<uint8_t> chunks = fileSystem.listChunks();
    return entry >= chunks.data() && entry + fileSystem.entrySize() <= chunks.data() + chunks.size();
}

void checkRows(PhoneFileSystem& fileSystem, const test::FakeList& list)
{
    require(list.rows.size() <= fileSystem.entryCount(), "no more rows than the phone counted");
    for (const test::FakeList::Row& row : list.rows) {
        require(insideList(fileSystem, row.entry), "every row refers into the stored list");
        require(row.name.size() <= fileSystem.entrySize() - 8, "a name never runs past its field");
        require(row.name.find('\0') == std::string::npos, "a name ends at its zero byte");
    }
}

void checkLog(const std::string& log, bool fetched, size_t rows)
{
    require(isUtf8(log), "the log is UTF-8");
    if (!fetched) {
        require(log.find(kFetchFailed) != std::string::npos, "a failed fetch says so");
        require(log.find(kFoundLabel) == std::string::npos, "a failed fetch counts no files");
        return;
    }
    const std::string counted = kFoundLabel + std::to_string(rows) + "\r\n";
    require(log.find(counted) != std::string::npos, "the file count is the number of rows");
}

void checkProgress(const test::FakeWindow& window, uint32_t count)
{
    uint32_t last = 0;
    for (const test::FakeWindow::ProgressStep& step : window.progress) {
        if (step.what == "range") {
            require(step.a == 0 && step.b == count, "the progress range is 0..count");
            continue;
        }
        require(step.a >= last && step.a <= count, "progress only moves forward, up to the count");
        last = step.a;
    }
}

void checkWellFormed(const test::FakeList& list, const std::vector<Entry>& entries, FileListView& view)
{
    require(list.rows.size() == entries.size(), "a well-formed list shows every entry");
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[entries.size() - 1 - i];
        const test::FakeList::Row& row = list.rows[i];
        require(row.name == entry.name && row.flags == entry.flags && row.size == entry.size,
                "rows show the phone's entries, last listed on top");
    }
    // The lookups find the first listed entry of a name: the lowest such row.
    for (auto row = list.rows.rbegin(); row != list.rows.rend(); ++row) {
        const auto first = std::find_if(entries.begin(), entries.end(),
                                        [&](const Entry& e) { return e.name == row->name; });
        require(std::to_string(static_cast<int32_t>(view.lookupFileSize(row->name))) == first->size,
                "a lookup finds the first listed entry of the name");
    }
}

void checkSorting(FileListView& view, test::FakeList& list)
{
    const size_t rows = list.rows.size();
    for (int column : {0, 0, 1, 2, 2}) {
        view.sortByColumn(column);
        require(list.rows.size() == rows, "sorting keeps every row");
        for (size_t i = 1; i < rows; ++i) {
            const int forward = view.compareRows(list.rows[i - 1].entry, list.rows[i].entry, column);
            const int backward = view.compareRows(list.rows[i].entry, list.rows[i - 1].entry, column);
            require((forward == 0 || forward == 1) && (backward == 0 || backward == 1), "comparisons give 0 or 1");
            require(!(forward == 1 && backward == 0), "sorted rows are in order");
        }
    }
}

} // namespace
} // namespace p2k::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace p2k;
    using namespace p2k::fuzz;
    FuzzInput in(data, size);
    PlayedPhoneWorld world(in);

    const bool fetched = world.view.refreshFileList(world.window);

    require(fetched == world.sink.text().starts_with("Получаю список файлов... ok\r\n"),
            "the result says whether the list came");
    require(fetched || world.list.rows.empty(), "a failed fetch shows no rows");
    checkRows(world.fileSystem, world.list);
    checkLog(world.sink.text(), fetched, world.list.rows.size());
    const std::vector<const PlayedRequest*> counts = world.phone.requestsOf(kFileSystem, kListCount);
    if (!counts.empty() && counts.front()->answer.size() >= 2)
        checkProgress(world.window, loadBe16(counts.front()->answer.data()));
    if (fetched) {
        const auto entries = wellFormedEntries(world.phone.requestsOf(kFileSystem, kListNext), world.fileSystem.entryCount());
        if (entries)
            checkWellFormed(world.list, *entries, world.view);
    }
    checkSorting(world.view, world.list);
    return 0;
}
