#pragma once
// A modal dialog from a template of the current resource module. A static dialog procedure keeps
// `this` in DWLP_USER and forwards to the derived dialog's handlers. An exception raised in a
// handler is caught at the procedure, ends the dialog and is raised again by DoModal, so it never
// unwinds through Windows.
#include <windows.h>

#include <exception>
#include <string>

// A control object bound to a dialog item by data exchange.
class CDialogControl {
public:
    [[nodiscard]] HWND GetHwnd() const noexcept { return m_hwnd; }
    void Attach(HWND hwnd) noexcept { m_hwnd = hwnd; }
    void Show(bool show) const noexcept { ShowWindow(m_hwnd, show ? SW_SHOW : SW_HIDE); }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const noexcept
    {
        return SendMessageW(m_hwnd, message, wParam, lParam);
    }
    void AddStyle(LONG_PTR style) const noexcept
    {
        SetWindowLongPtrW(m_hwnd, GWL_STYLE, GetWindowLongPtrW(m_hwnd, GWL_STYLE) | style);
    }

private:
    HWND m_hwnd = nullptr;
};

class CModalDialog {
public:
    explicit CModalDialog(UINT templateId) noexcept : m_templateId(templateId) {}
    virtual ~CModalDialog() = default;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Runs the dialog's modal loop; returns the result given to EndDialog, or -1 when the template
    // could not be loaded (GetLastError tells why). Raises again what a handler raised.
    INT_PTR DoModal(HWND owner = nullptr);

    [[nodiscard]] HWND GetHwnd() const noexcept { return m_hwnd; }

protected:
    // WM_INITDIALOG: the base writes the members into the controls. Return true to let the
    // dialog manager set the focus to the first tab stop.
    virtual bool OnInitDialog();
    // WM_COMMAND; return true when handled.
    virtual bool OnCommand(WORD id, WORD code) = 0;
    // Any other message (private messages); return true when handled, with the procedure's result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    // Both directions of data exchange: toControls writes members into controls.
    virtual void ExchangeData(bool toControls) = 0;

    // Returns false when the dialog has no window yet.
    bool UpdateData(bool toControls);
    void EndDialog(INT_PTR result) noexcept;
    [[nodiscard]] HWND GetItem(int id) const noexcept { return GetDlgItem(m_hwnd, id); }
    void EnableItem(int id, bool enable) const noexcept { EnableWindow(GetItem(id), enable ? TRUE : FALSE); }

    void ExchangeText(bool toControls, int id, std::wstring& text);
    void ExchangeCheck(bool toControls, int id, INT32& state) noexcept;
    void BindControl(bool toControls, int id, CDialogControl& control) noexcept;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_hwnd = nullptr;
    std::exception_ptr m_pendingError;
};
