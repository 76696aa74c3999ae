#include "core/operator_log.h"

namespace p2k {

void OperatorLog::appendLog(std::string_view utf8)
{
    if (quiet_.load() == 1)
        return;
    if (utf8.empty())
        return;
    lineOpen_.store(utf8.back() != '\n');
    if (LogSink* sink = sink_.load())
        sink->append(utf8);
}

void OperatorLog::appendLine(std::string_view utf8)
{
    if (lineOpen_.load())
        appendLog("\r\n");
    appendLog(utf8);
}

void MemoryLogSink::append(std::string_view utf8)
{
    std::lock_guard lock(mutex_);
    text_.append(utf8);
}

std::string MemoryLogSink::text() const
{
    std::lock_guard lock(mutex_);
    return text_;
}

void MemoryLogSink::clear()
{
    std::lock_guard lock(mutex_);
    text_.clear();
}

} // namespace p2k
