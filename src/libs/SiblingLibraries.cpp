#include "libs/SiblingLibraries.h"

#include <windows.h>

namespace tw {

SiblingLibraries::SiblingLibraries(std::string folder, TPlainBox plainBox)
    : folder_(std::move(folder)), plainBox_(std::move(plainBox)), general_(plainBox_) {
    if (!folder_.empty() && folder_.back() != '\\' && folder_.back() != '/') folder_ += '\\';
}

SiblingLibraries::~SiblingLibraries() { Release(); }

template <class Bind>
bool SiblingLibraries::Load(const char* fileName, Bind&& bind) {
    // A missing DLL must not raise the system's own error box: ours follows.
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    std::shared_ptr<TLibraryModule> module = TLibraryModule::Load(folder_ + fileName);
    SetErrorMode(oldMode);
    if (bind(std::move(module))) return true;
    if (plainBox_) plainBox_(std::string(fileName) + " not loaded!", "Tarnowick", MB_OK);
    return false;
}

void SiblingLibraries::LoadOpcData() {
    opcData_.reset();
    Load("vxOpcData.dll", [this](std::shared_ptr<TLibraryModule> module) {
        if (!module || !module->Entry("InitOpcDataDLL") || !module->Entry("ReadTag") || !module->Entry("WriteTag"))
            return false;
        opcData_ = std::move(module);  // resolved, never called
        return true;
    });
}

void SiblingLibraries::LoadDataAccess() {
    Load("vxDataAccess.dll", [this](std::shared_ptr<TLibraryModule> m) { return dataAccess_.Bind(std::move(m)); });
}

void SiblingLibraries::LoadGeneral() {
    Load("vxGeneral.dll", [this](std::shared_ptr<TLibraryModule> m) { return general_.Bind(std::move(m)); });
}

void SiblingLibraries::LoadSecurity() {
    Load("vxSecurity.dll", [this](std::shared_ptr<TLibraryModule> m) { return security_.Bind(std::move(m)); });
}

void SiblingLibraries::Release() {
    dataAccess_.Unbind();
    general_.Unbind();
    security_.Unbind();
    opcData_.reset();
}

}  // namespace tw
