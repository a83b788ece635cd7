#include "ModalDialog.h"

#include "ResourceStrings.h"

#include <utility>

INT_PTR CModalDialog::DoModal(HWND owner)
{
    m_pendingError = nullptr;
    const INT_PTR result = DialogBoxParamW(Tallis::ImageUpdate::GetResourceModule(), MAKEINTRESOURCEW(m_templateId),
                                           owner, &CModalDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    const DWORD error = GetLastError();
    m_hwnd = nullptr;
    if (m_pendingError)
        std::rethrow_exception(std::exchange(m_pendingError, nullptr));
    SetLastError(error);
    return result;
}

INT_PTR CALLBACK CModalDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    auto* self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CModalDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
    }
    if (!self)
        return FALSE;
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // Keep the first error; the dialog ends and DoModal raises it on the caller's frame.
        if (!self->m_pendingError)
            self->m_pendingError = std::current_exception();
        ::EndDialog(hwnd, -1);
        return TRUE;
    }
}

INT_PTR CModalDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    default: {
        INT_PTR result = 0;
        if (!OnMessage(message, wParam, lParam, result))
            return FALSE;
        // A dialog procedure returns a message's result through DWLP_MSGRESULT.
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    }
}

bool CModalDialog::OnInitDialog()
{
    UpdateData(true);
    return true;
}

bool CModalDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

bool CModalDialog::UpdateData(bool toControls)
{
    if (!m_hwnd)
        return false;
    ExchangeData(toControls);
    return true;
}

void CModalDialog::EndDialog(INT_PTR result) noexcept
{
    ::EndDialog(m_hwnd, result);
}

void CModalDialog::ExchangeText(bool toControls, int id, std::wstring& text)
{
    HWND item = GetItem(id);
    if (toControls) {
        SetWindowTextW(item, text.c_str());
        return;
    }
    const int length = GetWindowTextLengthW(item);
    std::wstring read(size_t(length) + 1, L'\0');
    const int copied = GetWindowTextW(item, read.data(), length + 1);
    read.resize(size_t(copied > 0 ? copied : 0));
    text = std::move(read);
}

void CModalDialog::ExchangeCheck(bool toControls, int id, INT32& state) noexcept
{
    if (toControls)
        CheckDlgButton(m_hwnd, id, state ? BST_CHECKED : BST_UNCHECKED);
    else
        state = IsDlgButtonChecked(m_hwnd, id) == BST_CHECKED ? 1 : 0;
}

void CModalDialog::BindControl(bool, int id, CDialogControl& control) noexcept
{
    if (!control.GetHwnd())
        control.Attach(GetItem(id));
}
