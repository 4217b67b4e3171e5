// IGeneral for tests: settings and log calls do nothing; ShowMsg is left to each test.
#pragma once

#include <string>

#include "libs/General.h"

namespace tw::opc::test {

class TStubGeneral : public IGeneral {
public:
    bool Loaded() const override { return true; }
    bool GetInitSettingBool(const std::string&, const std::string&, const std::string&, bool d) override { return d; }
    std::string GetInitSettingStr(const std::string&, const std::string&, const std::string&,
                                  const std::string& d) override {
        return d;
    }
    void SetInitSettingBool(const std::string&, const std::string&, bool, const std::string&) override {}
    void SetInitSettingStr(const std::string&, const std::string&, const std::string&, const std::string&) override {}
    void AddLog(const std::string&, const std::string&) override {}
};

}  // namespace tw::opc::test
