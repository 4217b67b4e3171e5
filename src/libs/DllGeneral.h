// IGeneral over the entries of vxGeneral.dll. Unbound, ShowMsg falls back to the plain box with the
// nearest buttons, settings give their defaults, and writes and AddLog do nothing.
#pragma once

#include <memory>

#include "libs/General.h"
#include "libs/GeneralAbi.h"
#include "libs/LibraryModule.h"

namespace tw {

class TDllGeneral : public IGeneral {
public:
    explicit TDllGeneral(TPlainBox plainBox) : plainBox_(std::move(plainBox)) {}
    bool Bind(std::shared_ptr<TLibraryModule> module);
    void Unbind() { lib_.reset(); }

    bool Loaded() const override { return lib_ != nullptr; }
    int ShowMsg(const std::string& text, int kind, int buttons, int helpContext) override;
    bool GetInitSettingBool(const std::string& section, const std::string& key, const std::string& fileName,
                            bool defaultValue) override;
    std::string GetInitSettingStr(const std::string& section, const std::string& key, const std::string& fileName,
                                  const std::string& defaultValue) override;
    void SetInitSettingBool(const std::string& section, const std::string& key, bool value,
                            const std::string& fileName) override;
    void SetInitSettingStr(const std::string& section, const std::string& key, const std::string& value,
                           const std::string& fileName) override;
    void AddLog(const std::string& text, const std::string& logPath) override;

private:
    struct TEntries {
        std::shared_ptr<TLibraryModule> module;
        TShowMsg ShowMsg;
        TGetInitSettingBool GetInitSettingBool;
        TGetInitSettingStr GetInitSettingStr;
        TSetInitSettingBool SetInitSettingBool;
        TSetInitSettingStr SetInitSettingStr;
        TAddLog AddLog;
        TFreeText FreeText;
    };
    int PlainShowMsg(const std::string& text, int kind, int buttons);

    TPlainBox plainBox_;
    std::shared_ptr<const TEntries> lib_;
};

}  // namespace tw
