#include "RunRecord.h"

const wchar_t* OutcomeName(RunEnd end) noexcept
{
    switch (end) {
    case RunEnd::Succeeded:
    case RunEnd::NothingSelected: return L"ok";
    case RunEnd::ItemsMissed:
    case RunEnd::CollectorFailed: return L"completed-with-errors";
    default: return L"failed";
    }
}

bool RunRecord::AnyCollectorFailed() const noexcept
{
    for (const CollectorRecord& collector : collectors) {
        if (collector.outcome == CollectorRecord::Outcome::Failed ||
            collector.outcome == CollectorRecord::Outcome::Skipped)
            return true;
    }
    return false;
}
