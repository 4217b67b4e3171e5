#include "config/win32/SettingsPageView.h"

#include <commctrl.h>

#include <vector>

#include "config/Configuration.h"
#include "resource.h"
#include "ui/win32/DialogText.h"

namespace tw {

namespace {

int BoxId(TSettingsBox box) {
    switch (box) {
    case cbxLoadOnStartup: return IDC_CBXLOADONSTARTUP;
    case cbxLogEvent: return IDC_CBXLOGEVENT;
    case cbxHideOnStartup: return IDC_CBXHIDEONSTARTUP;
    case cbxProtectSettings: return IDC_CBXPROTECTSETTINGS;
    case cbxPublishDeviceStatus: return IDC_CBXPUBLISHDEVICESTATUS;
    }
    return 0;
}

int EditId(TPasswordEdit edit) { return edit == edtPassword ? IDC_EDTPASSWORD : IDC_EDTCONFIRMPASSWORD; }

// Column 0 carries the register's ID, drawn 2 pixels wide so it is in effect hidden.
constexpr int kColumnWidths[kGridColumns] = {2, 110, 50, 60, 120, 70};

}  // namespace

TSettingsPageView::TSettingsPageView(HWND page, std::function<bool()> pageActive)
    : page_(page), grid_(GetDlgItem(page, IDC_SGDLIST)), pageActive_(std::move(pageActive)) {
    SendMessageW(grid_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int c = 0; c < kGridColumns; ++c) {
        LVCOLUMNA col{};
        col.mask = LVCF_WIDTH | LVCF_TEXT;
        col.cx = kColumnWidths[c];
        col.pszText = const_cast<char*>("");
        SendMessageA(grid_, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&col));
    }
    for (int id : {IDC_EDTPASSWORD, IDC_EDTCONFIRMPASSWORD}) SendDlgItemMessageW(page_, id, EM_SETPASSWORDCHAR, '*', 0);
}

bool TSettingsPageView::OnPageMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND) {
        OnCommand(LOWORD(wp), HIWORD(wp));
        return true;
    }
    if (msg == WM_NOTIFY) {
        auto* hdr = reinterpret_cast<const NMHDR*>(lp);
        if (hdr->hwndFrom == grid_) {
            OnGridNotify(hdr);
            return true;
        }
    }
    return false;
}

void TSettingsPageView::OnCommand(int id, int code) {
    if (!config_) return;
    if (id == IDC_LBXDEVICES) {
        if (code == LBN_SELCHANGE) {
            int index = static_cast<int>(SendDlgItemMessageW(page_, IDC_LBXDEVICES, LB_GETCURSEL, 0, 0));
            if (index >= 0) config_->Page().lbxDevicesClick(index);
        }
        return;
    }
    if (code != BN_CLICKED) return;
    TSettingsPage& page = config_->Page();
    switch (id) {
    case IDC_BTNNEWDEVICE: page.btnNewDeviceClick(); break;
    case IDC_BTNEDITDEVICE: page.btnEditDeviceClick(); break;
    case IDC_BTNDELETEDEVICE: page.btnDeleteDeviceClick(); break;
    case IDC_BBNNEW: page.bbnNewClick(); break;
    case IDC_BBNEDIT: page.bbnEditClick(); break;
    case IDC_BBNDELETE: page.bbnDeleteClick(); break;
    case IDC_CBXPROTECTSETTINGS: config_->Settings().cbxProtectSettingsClick(); break;
    case IDC_BBNSAVE: config_->bbnSaveClick(); break;
    case IDC_CBXSTARTPOLLING:
        if (OnStartPolling) OnStartPolling(StartPollingChecked());
        break;
    case IDC_BBNLOCALOPCCONSOLE:
        if (OnLocalOpcConsole) OnLocalOpcConsole();
        break;
    case IDM_SIMULATE:
        if (OnSimulate) OnSimulate();
        break;
    default: break;
    }
}

void TSettingsPageView::OnGridNotify(const NMHDR* hdr) {
    if (hdr->code == LVN_ITEMCHANGED) {
        auto* change = reinterpret_cast<const NMLISTVIEW*>(hdr);
        if (!filling_ && (change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
            !(change->uOldState & LVIS_SELECTED))
            config_->Page().sgdListSelectCell(change->iItem + 1);  // row 0 is the title row
    } else if (hdr->code == NM_RCLICK) {
        HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDM_PORTMENU));
        if (!menu) return;
        POINT at;
        GetCursorPos(&at);
        TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, at.x, at.y, 0, page_, nullptr);
        DestroyMenu(menu);
    }
}

bool TSettingsPageView::StartPollingChecked() const {
    return IsDlgButtonChecked(page_, IDC_CBXSTARTPOLLING) == BST_CHECKED;
}

void TSettingsPageView::SetStartPolling(bool checked) {
    CheckDlgButton(page_, IDC_CBXSTARTPOLLING, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool TSettingsPageView::Checked(TSettingsBox box) const {
    return IsDlgButtonChecked(page_, BoxId(box)) == BST_CHECKED;
}

void TSettingsPageView::SetChecked(TSettingsBox box, bool checked) {
    CheckDlgButton(page_, BoxId(box), checked ? BST_CHECKED : BST_UNCHECKED);
}

std::string TSettingsPageView::Text(TPasswordEdit edit) const { return ItemTextA(page_, EditId(edit)); }

void TSettingsPageView::SetText(TPasswordEdit edit, const std::string& text) {
    SetDlgItemTextA(page_, EditId(edit), text.c_str());
}

void TSettingsPageView::SetPasswordControlsEnabled(bool enabled) {
    for (int id : {IDC_LBLPASSWORD, IDC_EDTPASSWORD, IDC_LBLCONFIRMPASSWORD, IDC_EDTCONFIRMPASSWORD})
        EnableWindow(GetDlgItem(page_, id), enabled);
}

void TSettingsPageView::FocusPassword() { SetFocus(GetDlgItem(page_, IDC_EDTPASSWORD)); }

void TSettingsPageView::SetDeviceItems(const std::vector<std::string>& items) {
    HWND list = GetDlgItem(page_, IDC_LBXDEVICES);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const auto& item : items) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void TSettingsPageView::SetDeviceDetails(const TDeviceDetails& d) {
    SetDlgItemTextA(page_, IDC_EDTDEVDESCRIPTION, d.Description.c_str());
    SetDlgItemTextA(page_, IDC_EDTDEVIPADDRESS, d.IpAddress.c_str());
    SetDlgItemTextA(page_, IDC_EDTDEVPORT, d.Port.c_str());
    SetDlgItemTextA(page_, IDC_EDTDEVUNITID, d.UnitId.c_str());
}

void TSettingsPageView::SetGridRows(const std::vector<TGridRow>& rows, int selectedRow) {
    filling_ = true;
    SendMessageW(grid_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(grid_, LVM_DELETEALLITEMS, 0, 0);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r > 0) {
            LVITEMA item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(r - 1);
            item.pszText = const_cast<char*>(rows[r][0].c_str());
            SendMessageA(grid_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        }
        for (int c = r > 0 ? 1 : 0; c < kGridColumns; ++c) SetGridCell(static_cast<int>(r), c, rows[r][c]);
    }
    if (selectedRow >= 1 && selectedRow < static_cast<int>(rows.size())) {
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(grid_, LVM_SETITEMSTATE, selectedRow - 1, reinterpret_cast<LPARAM>(&state));
    }
    SendMessageW(grid_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(grid_, nullptr, TRUE);
    filling_ = false;
}

void TSettingsPageView::SetGridCell(int row, int column, const std::string& text) {
    if (column < 0 || column >= kGridColumns || row < 0) return;
    if (row == 0) {
        LVCOLUMNA col{};
        col.mask = LVCF_TEXT;
        col.pszText = const_cast<char*>(text.c_str());
        SendMessageA(grid_, LVM_SETCOLUMNA, column, reinterpret_cast<LPARAM>(&col));
        return;
    }
    SetItemText(row - 1, column, text);
}

void TSettingsPageView::SetItemText(int item, int column, const std::string& text) {
    LVITEMA cell{};
    cell.iSubItem = column;
    cell.pszText = const_cast<char*>(text.c_str());
    SendMessageA(grid_, LVM_SETITEMTEXTA, item, reinterpret_cast<LPARAM>(&cell));
}

}  // namespace tw
