#pragma once
// Where the run's status lines go: the dialog registers itself once; without a registration the
// lines are dropped (a run driven by a test or a console has no status line to show).
class IStatusSink {
public:
    virtual void SetStatusText(const wchar_t* text) = 0;

protected:
    ~IStatusSink() = default;
};

void RegisterStatusSink(IStatusSink* sink) noexcept;
void SetStatusText(const wchar_t* text);
