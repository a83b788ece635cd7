#pragma once
// The tool's only window: output folder, Browse, the three collector check boxes, OK starting one
// collection run on a worker thread, and the run's status line and marquee.
#include "CollectionLock.h"
#include "ModalDialog.h"
#include "RunRecord.h"
#include "RunRequest.h"
#include "StatusSink.h"
#include "VellocsDiag.h"

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <vector>

class CVellocsDiagDlg : public CModalDialog, public IStatusSink {
public:
    // Posted by the worker with the run's RunEnd in wParam.
    static constexpr UINT kCollectionDone = WM_APP + 1;

    // The dialog shows the request and changes it (Browse, the check boxes) until OK hands it to
    // the run; earlyWarnings go first into every run's log.
    CVellocsDiagDlg(CVellocsDiag& holder, RunRequest& request, std::vector<std::wstring> earlyWarnings,
                    std::vector<std::wstring> earlyNotes = {});
    ~CVellocsDiagDlg() override = default;

    // Called by the run on the worker thread: a synchronous text change of control 1043.
    void SetStatusText(const wchar_t* text) override;

    [[nodiscard]] bool IsBusy() const noexcept { return m_busy; }
    [[nodiscard]] INT32 GetCheckState(int index) const { return m_checkStates.at(size_t(index)); }

    // The last run's record once its completion has arrived (another run under way included, not
    // an OK with nothing selected); null before.
    [[nodiscard]] const RunRecord* GetRunRecord() const noexcept { return m_record ? &*m_record : nullptr; }

protected:
    bool OnInitDialog() override;
    bool OnCommand(WORD id, WORD code) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void ExchangeData(bool toControls) override;

private:
    void OnOK();
    void OnClose();
    void OnBrowse();
    void OnCollectionDone(RunEnd end);
    void ShowOutcome(RunEnd end);
    void EnableControls(bool enable);
    [[nodiscard]] std::wstring OutcomeText(RunEnd end) const;
    void ReturnToIdle();
    static DWORD WINAPI CollectionWorker(void* argument) noexcept;
    RunEnd RunCollection();

    CVellocsDiag& m_holder;
    RunRequest& m_request;
    std::vector<std::wstring> m_earlyWarnings;
    std::vector<std::wstring> m_earlyNotes;
    std::array<INT32, CVellocsDiag::kComponentCount> m_checkStates{};
    std::wstring m_outputFolderText;
    std::wstring m_statusText;
    CDialogControl m_progress;
    HCURSOR m_waitCursor = nullptr;
    HCURSOR m_arrowCursor = nullptr;
    bool m_busy = false;
    // Written by the worker before it posts RunEnd::Raised, read after the post arrives.
    std::exception_ptr m_workerError;
    // Written by the worker before it posts its completion, read after the post arrives.
    std::optional<RunRecord> m_record;
    // Held from OK until the completion arrives, on the GUI thread.
    CCollectionLock m_lock;
    std::wstring m_lockWarning;
    // Set at start when the program runs as someone other than the session's user: no folder
    // browser, no explorer, and this reason on the status line while idle.
    bool m_shellClosed = false;
    std::wstring m_shellClosedReason;
};
