#include "StatusSink.h"

#include <atomic>

namespace {
std::atomic<IStatusSink*> g_statusSink{nullptr};
}

void RegisterStatusSink(IStatusSink* sink) noexcept
{
    g_statusSink.store(sink);
}

void SetStatusText(const wchar_t* text)
{
    if (IStatusSink* sink = g_statusSink.load())
        sink->SetStatusText(text);
}
