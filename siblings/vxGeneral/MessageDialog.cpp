#include "MessageDialog.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "DialogTemplate.h"

namespace vxgen {
namespace {

struct TKindLook {
    const wchar_t* caption;
    LPCSTR icon;  // a system icon (IDI_*)
};

TKindLook LookOf(int kind) {
    switch (kind) {
    case 0: return {L"Warning", IDI_WARNING};
    case 1: return {L"Error", IDI_ERROR};
    case 3: return {L"Confirmation", IDI_QUESTION};
    default: return {L"Information", IDI_INFORMATION};
    }
}

struct TButton {
    int bit;
    int id;
    const wchar_t* caption;
};
const TButton kButtons[] = {{1, IDYES, L"&Yes"}, {2, IDNO, L"&No"}, {4, IDOK, L"OK"}, {8, IDCANCEL, L"Cancel"}};

struct TDialogState {
    std::wstring text;
    HICON icon;
    std::vector<int> buttonIds;  // in display order; the first is the default
};

std::wstring Widen(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

bool Has(const TDialogState& state, int id) {
    return std::find(state.buttonIds.begin(), state.buttonIds.end(), id) != state.buttonIds.end();
}

SIZE DialogUnits(HWND dlg, int cx, int cy) {
    RECT r{0, 0, cx, cy};
    MapDialogRect(dlg, &r);
    return {r.right, r.bottom};
}

// Sizes the dialog to its text and places icon, text and buttons; then centres it over its owner.
void Layout(HWND dlg, const TDialogState& state) {
    const SIZE margin = DialogUnits(dlg, 8, 8);
    const SIZE button = DialogUnits(dlg, 50, 14);
    const SIZE gap = DialogUnits(dlg, 4, 4);
    HWND textWnd = GetDlgItem(dlg, kMessageTextId);
    HWND iconWnd = GetDlgItem(dlg, kMessageIconId);

    RECT workArea;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const int maxTextWidth = std::max<LONG>(200, (workArea.right - workArea.left) / 2);

    RECT textRect{0, 0, maxTextWidth, 0};
    HDC dc = GetDC(textWnd);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(dlg, WM_GETFONT, 0, 0)));
    DrawTextW(dc, state.text.c_str(), -1, &textRect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, oldFont);
    ReleaseDC(textWnd, dc);
    textRect.right += DialogUnits(dlg, 4, 0).cx;  // slack: the control must not wrap a measured line again

    const int iconSize = state.icon ? GetSystemMetrics(SM_CXICON) : 0;
    const int textLeft = margin.cx + (state.icon ? iconSize + margin.cx : 0);
    const int count = static_cast<int>(state.buttonIds.size());
    const int buttonsWidth = count * button.cx + (count - 1) * gap.cx;
    const int contentHeight = std::max<int>(iconSize, textRect.bottom);
    const int clientWidth = std::max<int>(textLeft + textRect.right + margin.cx, buttonsWidth + 2 * margin.cx);
    const int clientHeight = margin.cy + contentHeight + margin.cy + button.cy + margin.cy;

    if (state.icon) {
        SendMessageW(iconWnd, STM_SETICON, reinterpret_cast<WPARAM>(state.icon), 0);
        MoveWindow(iconWnd, margin.cx, margin.cy, iconSize, iconSize, FALSE);
    } else {
        ShowWindow(iconWnd, SW_HIDE);
    }
    MoveWindow(textWnd, textLeft, margin.cy + (contentHeight - textRect.bottom) / 2, textRect.right, textRect.bottom,
               FALSE);
    int x = (clientWidth - buttonsWidth) / 2;
    const int y = clientHeight - margin.cy - button.cy;
    for (int id : state.buttonIds) {
        MoveWindow(GetDlgItem(dlg, id), x, y, button.cx, button.cy, FALSE);
        x += button.cx + gap.cx;
    }

    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, GetWindowLongW(dlg, GWL_STYLE), FALSE, GetWindowLongW(dlg, GWL_EXSTYLE));
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT around = workArea;
    HWND owner = GetWindow(dlg, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &around);
    int left = around.left + ((around.right - around.left) - width) / 2;
    int top = around.top + ((around.bottom - around.top) - height) / 2;
    left = std::max<int>(workArea.left, std::min<int>(left, workArea.right - width));
    top = std::max<int>(workArea.top, std::min<int>(top, workArea.bottom - height));
    SetWindowPos(dlg, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK MessageProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TDialogState*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        state = reinterpret_cast<TDialogState*>(lParam);
        SetWindowLongPtrW(dlg, DWLP_USER, lParam);
        SetDlgItemTextW(dlg, kMessageTextId, state->text.c_str());
        Layout(dlg, *state);
        SetFocus(GetDlgItem(dlg, state->buttonIds.front()));
        return FALSE;  // focus set here
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) != BN_CLICKED && id != IDCANCEL) break;
        if (Has(*state, id)) {
            EndDialog(dlg, id);
        } else if (id == IDCANCEL && state->buttonIds.size() == 1 && state->buttonIds[0] == IDOK) {
            EndDialog(dlg, IDOK);  // Escape or the close box answer a lone OK, as MessageBox does
        }
        return TRUE;  // Escape does nothing when there is no way to decline
    }
    }
    return FALSE;
}

}  // namespace

std::string ToDisplayText(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) out += '\n';
    }
    return out;
}

int ShowMessageDialog(const std::string& text, int kind, int buttons) {
    TKindLook look = LookOf(kind);
    TDialogState state{Widen(ToDisplayText(text)), LoadIconA(nullptr, look.icon), {}};

    TDialogTemplate tmpl(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND, look.caption, 8,
                         L"MS Shell Dlg");
    tmpl.AddControl(TDialogTemplate::kStatic, kMessageIconId, SS_ICON, L"", 8, 8, 21, 20);
    tmpl.AddControl(TDialogTemplate::kStatic, kMessageTextId, SS_LEFT | SS_NOPREFIX, L"", 40, 8, 100, 20);
    for (const TButton& b : kButtons) {
        if ((buttons & b.bit) == 0) continue;
        const DWORD style = WS_TABSTOP | (state.buttonIds.empty() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        tmpl.AddControl(TDialogTemplate::kButton, static_cast<WORD>(b.id), style, b.caption, 0, 40, 50, 14);
        state.buttonIds.push_back(b.id);
    }
    if (state.buttonIds.empty()) {  // no known button asked for: the operator still needs a way out
        tmpl.AddControl(TDialogTemplate::kButton, IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, L"OK", 0, 40, 50, 14);
        state.buttonIds.push_back(IDOK);
    }

    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ShowMessageDialog), &self);
    INT_PTR result = DialogBoxIndirectParamW(self, tmpl.Get(), GetActiveWindow(), MessageProc,
                                             reinterpret_cast<LPARAM>(&state));
    return result > 0 ? static_cast<int>(result) : 0;
}

}  // namespace vxgen
