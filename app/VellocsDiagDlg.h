#pragma once
// The tool's only window: output folder, Browse, the three collector check boxes, OK starting one
// collection run on a worker thread, and the run's status line and marquee.
#include "CollectionLock.h"
#include "CollectionSession.h"
#include "ModalDialog.h"
#include "StatusSink.h"
#include "VellocsDiag.h"

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <vector>

class CVellocsDiagDlg : public CModalDialog, public IStatusSink {
public:
    // Posted by the worker with a completion code in wParam.
    static constexpr UINT kCollectionDone = WM_APP + 1;
    static constexpr WPARAM kRunSucceeded = 0;
    static constexpr WPARAM kRunFailed = 1;
    static constexpr WPARAM kNothingSelected = 2;
    // The run raised an error (a missing status string); OnCollectionDone raises it again.
    static constexpr WPARAM kRunRaised = 3;
    // The output folder, the result file or the archive could not be made.
    static constexpr WPARAM kOutputFailed = 4;
    // The run would not fit on the output volume; nothing was created.
    static constexpr WPARAM kNoSpace = 5;

    explicit CVellocsDiagDlg(CVellocsDiag& holder);
    ~CVellocsDiagDlg() override;

    // Called by the run on the worker thread: a synchronous text change of control 1043.
    void SetStatusText(const wchar_t* text) override;

    [[nodiscard]] bool IsBusy() const noexcept { return m_busy; }
    [[nodiscard]] const std::wstring& GetOutputFolder() const noexcept { return m_outputFolder; }
    [[nodiscard]] INT32 GetCheckState(int index) const { return m_checkStates.at(size_t(index)); }

    // Set by start-up before DoModal.
    std::wstring m_outputFolder;
    const wchar_t* m_markerVolumeRoot = nullptr;
    INT32 m_layerMode = 0;
    bool m_zip = false;
    std::optional<ULONGLONG> m_reserveBytes;
    ULONGLONG m_fileSizeCap = 0;
    std::vector<std::wstring> m_startWarnings; // logged first in the run's log

    // The last run's outcome, once its completion has arrived; null before.
    [[nodiscard]] const SessionOutcome* GetSessionOutcome() const noexcept
    {
        return m_outcome ? &*m_outcome : nullptr;
    }
    // OK found another collection under way on this machine, and the dialog ended.
    [[nodiscard]] bool AnotherRunWasUnderWay() const noexcept { return m_anotherRun; }

    // Test seam: replaces CreateThread for the worker (null restores it).
    using ThreadStartFn = HANDLE (*)(LPTHREAD_START_ROUTINE routine, void* argument);
    static void SetThreadStartForTest(ThreadStartFn start) noexcept;

protected:
    bool OnInitDialog() override;
    bool OnCommand(WORD id, WORD code) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void ExchangeData(bool toControls) override;

private:
    void OnOK();
    void OnClose();
    void OnBrowse();
    void OnCollectionDone(WPARAM code);
    void EnableControls(bool enable);
    void ReturnToIdle();
    static DWORD WINAPI CollectionWorker(void* argument) noexcept;
    WPARAM RunCollection();

    CVellocsDiag& m_holder;
    std::array<INT32, CVellocsDiag::kComponentCount> m_checkStates{};
    std::wstring m_statusText;
    CDialogControl m_progress;
    HCURSOR m_waitCursor = nullptr;
    HCURSOR m_arrowCursor = nullptr;
    bool m_busy = false;
    // Written by the worker before it posts kRunRaised, read after the post arrives.
    std::exception_ptr m_workerError;
    // Written by the worker before it posts its completion, read after the post arrives.
    std::optional<SessionOutcome> m_outcome;
    // Held from OK until the completion arrives, on the GUI thread.
    CCollectionLock m_lock;
    std::wstring m_lockWarning;
    bool m_anotherRun = false;
};
