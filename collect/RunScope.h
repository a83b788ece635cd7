#pragma once
// Every process-wide hook one collection run needs, installed by one object and removed by it on
// every path: the status sink that shows the run's lines, the error-entry observer and the copy
// policy (with the file size cap) that fill its record, and a cleared full-disk latch. The hooks
// are process-wide because the collectors' calls carry no run of their own.
#include "RunRecord.h"
#include "RunRequest.h"
#include "StatusSink.h"

#include <mutex>

namespace Tallis::ImageUpdate {
struct CopyEvent;
}

class RunScope {
public:
    // sink may be null: the run's status lines are then dropped.
    RunScope(const RunRequest& request, RunRecord& record, IStatusSink* sink) noexcept;
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    static void OnErrorEntry(void* context, const SYSTEMTIME& localTime, const wchar_t* unit,
                             const wchar_t* text) noexcept;
    static void OnCopy(void* context, const Tallis::ImageUpdate::CopyEvent& event) noexcept;

    RunRecord& m_record;
    std::mutex m_copyLock; // copies may be reported from more than one thread
};
