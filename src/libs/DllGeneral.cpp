#include "libs/DllGeneral.h"

#include <windows.h>

namespace tw {

bool TDllGeneral::Bind(std::shared_ptr<TLibraryModule> module) {
    lib_.reset();
    if (!module) return false;
    auto e = std::make_shared<TEntries>();
    const TLibraryModule& m = *module;
    bool ok = m.Resolve("ShowMsg", e->ShowMsg) && m.Resolve("GetInitSettingBool", e->GetInitSettingBool) &&
              m.Resolve("GetInitSettingStr", e->GetInitSettingStr) &&
              m.Resolve("SetInitSettingBool", e->SetInitSettingBool) &&
              m.Resolve("SetInitSettingStr", e->SetInitSettingStr) && m.Resolve("AddLog", e->AddLog) &&
              m.Resolve("FreeText", e->FreeText);
    if (!ok) return false;
    e->module = std::move(module);
    lib_ = std::move(e);
    return true;
}

// Without the library the operator must still be able to answer, above all to confirm an exit:
// Yes and No stay Yes and No; Yes with Cancel becomes OK and Cancel, with OK read as Yes.
int TDllGeneral::PlainShowMsg(const std::string& text, int kind, int buttons) {
    static const char* const kCaptions[] = {"Warning", "Error", "Information", "Confirmation"};
    static const unsigned kIcons[] = {MB_ICONWARNING, MB_ICONERROR, MB_ICONINFORMATION, MB_ICONQUESTION};
    const int look = kind >= 0 && kind <= 3 ? kind : mkInformation;
    const bool yes = buttons & mbYes, no = buttons & mbNo, cancel = buttons & mbCancel;
    unsigned type = yes && no ? MB_YESNO : cancel ? MB_OKCANCEL : MB_OK;
    int answer = plainBox_ ? plainBox_(text, kCaptions[look], type | kIcons[look]) : 0;
    if (yes && !no && answer == IDOK) return IDYES;
    return answer;
}

int TDllGeneral::ShowMsg(const std::string& text, int kind, int buttons, int helpContext) {
    if (!lib_) return PlainShowMsg(text, kind, buttons);
    return lib_->ShowMsg(text.c_str(), kind, buttons, helpContext);
}

bool TDllGeneral::GetInitSettingBool(const std::string& section, const std::string& key, const std::string& fileName,
                                     bool defaultValue) {
    if (!lib_) return defaultValue;
    return lib_->GetInitSettingBool(section.c_str(), key.c_str(), fileName.c_str(), defaultValue) != 0;
}

std::string TDllGeneral::GetInitSettingStr(const std::string& section, const std::string& key,
                                           const std::string& fileName, const std::string& defaultValue) {
    if (!lib_) return defaultValue;
    char* text = lib_->GetInitSettingStr(section.c_str(), key.c_str(), fileName.c_str(), defaultValue.c_str());
    if (text == nullptr) return defaultValue;
    std::string result = text;
    lib_->FreeText(text);
    return result;
}

void TDllGeneral::SetInitSettingBool(const std::string& section, const std::string& key, bool value,
                                     const std::string& fileName) {
    if (lib_) lib_->SetInitSettingBool(section.c_str(), key.c_str(), value, fileName.c_str());
}

void TDllGeneral::SetInitSettingStr(const std::string& section, const std::string& key, const std::string& value,
                                    const std::string& fileName) {
    if (lib_) lib_->SetInitSettingStr(section.c_str(), key.c_str(), value.c_str(), fileName.c_str());
}

void TDllGeneral::AddLog(const std::string& text, const std::string& logPath) {
    if (lib_) lib_->AddLog(text.c_str(), logPath.c_str());
}

}  // namespace tw
