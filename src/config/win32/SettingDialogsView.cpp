#include "config/win32/SettingDialogsView.h"

#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "config/DeviceSetting.h"
#include "config/IOSetting.h"
#include "values/TypedValue.h"
#include "resource.h"
#include "ui/win32/DialogText.h"

namespace tw {

namespace {

// Dotted text into the address field; anything that is not four numbers 0-255 shows as 0.0.0.0.
void SetAddress(HWND dlg, const std::string& dotted) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    char tail = 0;
    DWORD address = 0;
    if (std::sscanf(dotted.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) == 4 && a < 256 && b < 256 &&
        c < 256 && d < 256)
        address = MAKEIPADDRESS(a, b, c, d);
    SendDlgItemMessageW(dlg, IDC_DS_IPADDRESS, IPM_SETADDRESS, 0, address);
}

std::string Address(HWND dlg) {
    DWORD address = 0;
    SendDlgItemMessageW(dlg, IDC_DS_IPADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(FIRST_IPADDRESS(address)), unsigned(SECOND_IPADDRESS(address)),
                  unsigned(THIRD_IPADDRESS(address)), unsigned(FOURTH_IPADDRESS(address)));
    return text;
}

// A drop-down list of texts with the entry at position selected chosen (the first when out of range).
template <std::size_t N>
void FillList(HWND dlg, int id, const char* const (&texts)[N], int selected) {
    for (const char* text : texts) SendDlgItemMessageA(dlg, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendDlgItemMessageW(dlg, id, CB_SETCURSEL, selected >= 0 && selected < static_cast<int>(N) ? selected : 0, 0);
}

int ListPosition(HWND dlg, int id) {
    const LRESULT position = SendDlgItemMessageW(dlg, id, CB_GETCURSEL, 0, 0);
    return position == CB_ERR ? 0 : static_cast<int>(position);
}

// The scaling's fields, in the order of TRegisterFields.
constexpr int kScalingFields[] = {IDC_IO_RAWLOW, IDC_IO_RAWHIGH, IDC_IO_EULOW, IDC_IO_EUHIGH, IDC_IO_UNITS};

// Coils and discrete inputs take no data type and no scaling: those fields are off for them.
void ShowDataTypeFor(HWND dlg) {
    const bool word = !RegisterTypeIsBit(ListPosition(dlg, IDC_IO_TYPE));
    for (int id : {IDC_IO_DATATYPE, IDC_IO_RAWLOW, IDC_IO_RAWHIGH, IDC_IO_EULOW, IDC_IO_EUHIGH, IDC_IO_UNITS, IDC_IO_CLAMP})
        EnableWindow(GetDlgItem(dlg, id), word);
}

void FillDevice(HWND dlg, const TfrmDeviceSetting& logic) {
    const TDeviceFields& f = logic.Fields;
    SetDlgItemTextA(dlg, IDC_DS_DESCRIPTION, f.Description.c_str());
    SetAddress(dlg, f.IpAddress);
    SetDlgItemTextA(dlg, IDC_DS_PORT, f.Port.c_str());
    SetDlgItemTextA(dlg, IDC_DS_UNITID, f.UnitId.c_str());
    CheckDlgButton(dlg, IDC_DS_DISABLED, f.Disabled ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dlg, IDC_DS_BLOCKREADS, f.BlockReads ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dlg, IDC_DS_WRITEMULTIPLE, f.WriteMultiple ? BST_CHECKED : BST_UNCHECKED);
    FillList(dlg, IDC_DS_WORDORDER, kWordOrderNames, f.WordOrder);
    SetDlgItemTextA(dlg, IDC_DS_SCANINTERVAL, f.ScanIntervalMs.c_str());
}

void ReadDevice(HWND dlg, TfrmDeviceSetting& logic) {
    TDeviceFields& f = logic.Fields;
    f.Description = ItemTextA(dlg, IDC_DS_DESCRIPTION);
    f.IpAddress = Address(dlg);
    f.Port = ItemTextA(dlg, IDC_DS_PORT);
    f.UnitId = ItemTextA(dlg, IDC_DS_UNITID);
    f.Disabled = IsDlgButtonChecked(dlg, IDC_DS_DISABLED) == BST_CHECKED;
    f.BlockReads = IsDlgButtonChecked(dlg, IDC_DS_BLOCKREADS) == BST_CHECKED;
    f.WriteMultiple = IsDlgButtonChecked(dlg, IDC_DS_WRITEMULTIPLE) == BST_CHECKED;
    f.WordOrder = ListPosition(dlg, IDC_DS_WORDORDER);
    f.ScanIntervalMs = ItemTextA(dlg, IDC_DS_SCANINTERVAL);
}

void FillRegister(HWND dlg, const TfrmIOSetting& logic) {
    const TRegisterFields& f = logic.Fields;
    SetDlgItemTextA(dlg, IDC_IO_DESCRIPTION, f.Description.c_str());
    SetDlgItemTextA(dlg, IDC_IO_REGISTERNO, f.RegisterNo.c_str());
    FillList(dlg, IDC_IO_TYPE, kRegisterTypes, f.RegisterType);
    FillList(dlg, IDC_IO_DATATYPE, kDataTypeNames, f.DataType);
    SetDlgItemTextA(dlg, IDC_IO_TAGNAME, f.TagName.c_str());
    const std::string* scaling[] = {&f.RawLow, &f.RawHigh, &f.EuLow, &f.EuHigh, &f.Units};
    for (int i = 0; i < 5; ++i) SetDlgItemTextA(dlg, kScalingFields[i], scaling[i]->c_str());
    CheckDlgButton(dlg, IDC_IO_CLAMP, f.Clamp ? BST_CHECKED : BST_UNCHECKED);
    ShowDataTypeFor(dlg);
}

void ReadRegister(HWND dlg, TfrmIOSetting& logic) {
    TRegisterFields& f = logic.Fields;
    f.Description = ItemTextA(dlg, IDC_IO_DESCRIPTION);
    f.RegisterNo = ItemTextA(dlg, IDC_IO_REGISTERNO);
    f.RegisterType = ListPosition(dlg, IDC_IO_TYPE);
    f.TagName = ItemTextA(dlg, IDC_IO_TAGNAME);
    f.DataType = ListPosition(dlg, IDC_IO_DATATYPE);
    std::string* scaling[] = {&f.RawLow, &f.RawHigh, &f.EuLow, &f.EuHigh, &f.Units};
    for (int i = 0; i < 5; ++i) *scaling[i] = ItemTextA(dlg, kScalingFields[i]);
    f.Clamp = IsDlgButtonChecked(dlg, IDC_IO_CLAMP) == BST_CHECKED;
}

// Both dialogs: filled from the logic's fields; OK copies the controls back and closes only when the
// logic's check agrees.
template <class Logic, void (*Fill)(HWND, const Logic&), void (*Read)(HWND, Logic&)>
INT_PTR CALLBACK SettingProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrW(dlg, DWLP_USER, lp);
        Fill(dlg, *reinterpret_cast<Logic*>(lp));
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    auto* logic = reinterpret_cast<Logic*>(GetWindowLongPtrW(dlg, DWLP_USER));
    if (LOWORD(wp) == IDC_IO_TYPE && HIWORD(wp) == CBN_SELCHANGE) {
        ShowDataTypeFor(dlg);
        return TRUE;
    }
    switch (LOWORD(wp)) {
    case IDOK:
        Read(dlg, *logic);
        if (logic->bbOKClick()) EndDialog(dlg, IDOK);
        return TRUE;
    case IDCANCEL:
        EndDialog(dlg, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

bool TSettingDialogsView::ShowDeviceSetting(TfrmDeviceSetting& dialog) {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_DEVICESETTING), owner_(),
                           SettingProc<TfrmDeviceSetting, FillDevice, ReadDevice>,
                           reinterpret_cast<LPARAM>(&dialog)) == IDOK;
}

bool TSettingDialogsView::ShowIOSetting(TfrmIOSetting& dialog) {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_IOSETTING), owner_(),
                           SettingProc<TfrmIOSetting, FillRegister, ReadRegister>,
                           reinterpret_cast<LPARAM>(&dialog)) == IDOK;
}

}  // namespace tw
