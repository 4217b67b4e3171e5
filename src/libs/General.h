// Message boxes, the settings file and the log file, as the general library offers them.
#pragma once

#include <string>

namespace tw {

// ShowMsg kinds, button sets and the one answer callers test for.
enum TMsgKind { mkWarning = 0, mkError = 1, mkInformation = 2, mkConfirmation = 3 };
enum TMsgButtons { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
constexpr int mbOKOnly = mbOK;                 // 4
constexpr int mbYesCancel = mbYes | mbCancel;  // 9
constexpr int mbYesNo = mbYes | mbNo;          // 3
constexpr int mrYes = 6;

class IGeneral {
public:
    virtual ~IGeneral() = default;
    virtual bool Loaded() const = 0;
    // Modal box; returns the button pressed (6 = Yes, 1 = OK, 2 = Cancel, 7 = No), 0 when none was shown.
    virtual int ShowMsg(const std::string& text, int kind, int buttons, int helpContext) = 0;
    // Settings file in the executable's folder; fileName is passed bare ("Tarnowick.ini").
    virtual bool GetInitSettingBool(const std::string& section, const std::string& key, const std::string& fileName,
                                    bool defaultValue) = 0;
    virtual std::string GetInitSettingStr(const std::string& section, const std::string& key,
                                          const std::string& fileName, const std::string& defaultValue) = 0;
    virtual void SetInitSettingBool(const std::string& section, const std::string& key, bool value,
                                    const std::string& fileName) = 0;
    virtual void SetInitSettingStr(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& fileName) = 0;
    // Appends text as one line to the log file.
    virtual void AddLog(const std::string& text, const std::string& logPath) = 0;
};

}  // namespace tw
