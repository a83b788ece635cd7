#include "RunScope.h"

#include "DiagnosticLog.h"
#include "FileCopy.h"

using namespace Tallis::ImageUpdate;

RunScope::RunScope(const RunRequest& request, RunRecord& record, IStatusSink* sink) noexcept : m_record(record)
{
    RegisterStatusSink(sink);
    SetErrorEntryObserver(&RunScope::OnErrorEntry, &m_record);
    ClearDiskFull();
    SetCopyPolicy({request.fileSizeCap, &RunScope::OnCopy, this});
}

RunScope::~RunScope()
{
    SetCopyPolicy({});
    SetErrorEntryObserver(nullptr, nullptr);
    RegisterStatusSink(nullptr);
}

// Called inside the log's lock: no logging here.
void RunScope::OnErrorEntry(void* context, const SYSTEMTIME&, const wchar_t* unit, const wchar_t* text) noexcept
{
    RunRecord& record = *static_cast<RunRecord*>(context);
    ++record.errorCount;
    if (record.errors.size() >= RunRecord::kMaxKept)
        return;
    try {
        RunErrorEntry entry;
        GetSystemTime(&entry.utcTime);
        entry.unit = unit ? unit : L"";
        entry.text = text ? text : L"";
        record.errors.push_back(std::move(entry));
    } catch (...) {
        // Out of memory: the entry is still counted and stays in the errors log.
    }
}

void RunScope::OnCopy(void* context, const CopyEvent& event) noexcept
{
    auto* scope = static_cast<RunScope*>(context);
    try {
        if (event.kind == CopyEvent::Kind::HardLinked) {
            HardLinkedFile linked{event.destination, event.links};
            std::lock_guard<std::mutex> lock(scope->m_copyLock);
            if (scope->m_record.hardLinked.size() < RunRecord::kMaxKept)
                scope->m_record.hardLinked.push_back(std::move(linked));
            return;
        }
        FileShortfall shortfall{event.source, event.destination, event.error, event.originalSize};
        std::lock_guard<std::mutex> lock(scope->m_copyLock);
        auto& list = event.kind == CopyEvent::Kind::Truncated ? scope->m_record.truncated : scope->m_record.notCollected;
        if (list.size() < RunRecord::kMaxKept)
            list.push_back(std::move(shortfall));
    } catch (...) {
        // Out of memory: the failure is still in the errors log.
    }
}
