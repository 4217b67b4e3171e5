// The family's sibling libraries, loaded by file name at start. A library that does not load is
// reported with a plain box ("<file> not loaded!") and its adapter answers every call gracefully.
#pragma once

#include <memory>
#include <string>

#include "libs/DllDataAccess.h"
#include "libs/DllGeneral.h"
#include "libs/DllSecurity.h"
#include "libs/LibraryModule.h"

namespace tw {

class SiblingLibraries {
public:
    // folder: where the DLLs are looked for ("" = the system's search order, the executable's folder
    // first); plainBox: the box that reports a missing library and stands in for ShowMsg.
    explicit SiblingLibraries(std::string folder = {}, TPlainBox plainBox = SystemPlainBox);
    ~SiblingLibraries();
    SiblingLibraries(const SiblingLibraries&) = delete;
    SiblingLibraries& operator=(const SiblingLibraries&) = delete;

    void LoadOpcData();
    void LoadDataAccess();
    void LoadGeneral();
    void LoadSecurity();

    IDataAccess& DataAccess() { return dataAccess_; }
    IGeneral& General() { return general_; }
    ISecurity& Security() { return security_; }
    bool OpcDataLoaded() const { return opcData_ != nullptr; }

    // Frees what was loaded; the adapters fall back to their not-loaded answers.
    void Release();

private:
    template <class Bind>
    bool Load(const char* fileName, Bind&& bind);

    std::string folder_;
    TPlainBox plainBox_;
    std::shared_ptr<TLibraryModule> opcData_;
    TDllDataAccess dataAccess_;
    TDllGeneral general_;
    TDllSecurity security_;
};

}  // namespace tw
