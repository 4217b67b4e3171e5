// vxGeneral.dll: the C entries. No C++ exception leaves the DLL; text it hands out is freed by FreeText.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "LogFile.h"
#include "MessageDialog.h"
#include "SettingsFile.h"
#include "libs/GeneralAbi.h"

namespace {

std::string Text(const char* s) { return s ? s : ""; }

char* CopyOut(const std::string& s) {
    char* out = static_cast<char*>(std::malloc(s.size() + 1));
    if (out) std::memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

}  // namespace

extern "C" {

int ShowMsg(const char* text, int kind, int buttons, int) {
    try {
        return vxgen::ShowMessageDialog(Text(text), kind, buttons);
    } catch (...) {
        return 0;
    }
}

int GetInitSettingBool(const char* section, const char* key, const char* fileName, int defaultValue) {
    try {
        return vxgen::ReadSettingBool(Text(section), Text(key), Text(fileName), defaultValue != 0) ? 1 : 0;
    } catch (...) {
        return defaultValue != 0;
    }
}

char* GetInitSettingStr(const char* section, const char* key, const char* fileName, const char* defaultValue) {
    try {
        return CopyOut(vxgen::ReadSettingStr(Text(section), Text(key), Text(fileName), Text(defaultValue)));
    } catch (...) {
        return CopyOut(Text(defaultValue));
    }
}

void SetInitSettingBool(const char* section, const char* key, int value, const char* fileName) {
    try {
        vxgen::WriteSettingBool(Text(section), Text(key), value != 0, Text(fileName));
    } catch (...) {
    }
}

void SetInitSettingStr(const char* section, const char* key, const char* value, const char* fileName) {
    try {
        vxgen::WriteSettingStr(Text(section), Text(key), Text(value), Text(fileName));
    } catch (...) {
    }
}

void AddLog(const char* text, const char* logPath) {
    try {
        vxgen::AppendLogLine(Text(text), Text(logPath));
    } catch (...) {
    }
}

void FreeText(char* text) { std::free(text); }

}  // extern "C"

static_assert(std::is_same_v<decltype(&ShowMsg), TShowMsg>);
static_assert(std::is_same_v<decltype(&GetInitSettingBool), TGetInitSettingBool>);
static_assert(std::is_same_v<decltype(&GetInitSettingStr), TGetInitSettingStr>);
static_assert(std::is_same_v<decltype(&SetInitSettingBool), TSetInitSettingBool>);
static_assert(std::is_same_v<decltype(&SetInitSettingStr), TSetInitSettingStr>);
static_assert(std::is_same_v<decltype(&AddLog), TAddLog>);
static_assert(std::is_same_v<decltype(&FreeText), TFreeText>);
