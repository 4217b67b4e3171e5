#include "opc/registration/ComServer.h"

#include <objbase.h>

#include <cwctype>
#include <string>

#include "Tarnowick.h"
#include "opc/ComText.h"
#include "opc/Guids.h"
#include "opc/registration/ClassRegistration.h"
#include "opc/registration/RegDeRegServer.h"
#include "opc/server/ServerSlots.h"

namespace tw::opc {
namespace {

void QuitMessageLoop() { PostQuitMessage(0); }

std::wstring Upper(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

}  // namespace

std::wstring ProcessExePath() {
    wchar_t exe[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return std::wstring(exe, n < MAX_PATH ? n : 0);
}

bool HasSwitch(const wchar_t* commandLine, const wchar_t* name) {
    const std::wstring line = commandLine ? commandLine : L"";
    const std::wstring wanted = Upper(name ? name : L"");
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::iswspace(line[i])) ++i;
        const size_t start = i;
        while (i < line.size() && !std::iswspace(line[i])) ++i;
        if (i - start < 2 || (line[start] != L'/' && line[start] != L'-')) continue;
        if (Upper(line.substr(start + 1, i - start - 1)) == wanted) return true;
    }
    return false;
}

TStartMode ParseStartMode(const wchar_t* commandLine) {
    if (HasSwitch(commandLine, L"AUTOMATION")) return TStartMode::Automation;
    if (HasSwitch(commandLine, L"EMBEDDING")) return TStartMode::Embedding;
    if (HasSwitch(commandLine, L"REGSERVER")) return TStartMode::RegServer;
    if (HasSwitch(commandLine, L"UNREGSERVER")) return TStartMode::UnregServer;
    return TStartMode::Normal;
}

TComServer::TComServer(const wchar_t* commandLine)
    : mode_(ParseStartMode(commandLine)), exePath_(ProcessExePath()), lifetime_(nullptr) {
    if (StartedByCom()) lifetime_ = TServerLifetime(&QuitMessageLoop);
    silent_ = (mode_ == TStartMode::RegServer || mode_ == TStartMode::UnregServer) && HasSwitch(commandLine, L"S");
}

TComServer::TComServer(const wchar_t* commandLine, IGeneral& general) : TComServer(commandLine) {
    general_ = &general;
}

TComServer::~TComServer() { Shutdown(); }

bool TComServer::StartedByCom() const { return mode_ == TStartMode::Automation || mode_ == TStartMode::Embedding; }

bool TComServer::RegisterAll(bool withProxyStubs) {
    try {
        RegisterTypeLibrary(exePath_);
        RegisterComClasses(*registry_, exePath_);
        RegisterOPCProgIdName(kOPCProgId, *registry_);
    } catch (const TRegistrationError&) {
        return false;
    }
    return !withProxyStubs || registry_->RegisterProxyStubs(exePath_);
}

bool TComServer::Initialize() {
    if (mode_ == TStartMode::UnregServer) {
        UnregisterOPCProgIdName(kOPCProgId, *registry_);
        UnregisterTypeLibrary();
        UnregisterComClasses(*registry_);
        failed_ = !registry_->UnregisterProxyStubs(exePath_);
        return false;
    }
    // A normal start registers the classes only; the proxy/stubs go with the register mode (the
    // installer's) and the console's "Register".
    const bool registered = RegisterAll(mode_ == TStartMode::RegServer);
    if (mode_ == TStartMode::RegServer) {
        // A failure must reach whoever started the register mode: the exit code says it, and the message
        // box too unless nobody may be there to close it.
        failed_ = !registered;
        if (failed_ && !silent_) {
            if (general_)
                general_->ShowMsg(kRegistryErrorText, mkError, mbOKOnly, 0);
            else
                MessageBoxA(nullptr, kRegistryErrorText, "Tarnowick", MB_OK | MB_ICONERROR);
        }
        return false;
    }
    RegisterClassObjects();
    return true;
}

void TComServer::RegisterClassObjects() {
    // One factory per CLSID; the two enumerator classes share theirs.
    const std::vector<std::pair<CLSID, bool>> classes = {
        {CLSID_DA2, true}, {CLSID_OPCGroup, false}, {CLSID_OPCEnumerators, false}, {CLSID_OPCItemAttEnumerator, false}};
    for (const auto& [clsid, createsServer] : classes) {
        TClassFactory* factory = TClassFactory::Create(lifetime_, createsServer);
        if (!factory) continue;
        factory->AddRef();
        DWORD cookie = 0;
        if (SUCCEEDED(CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory), CLSCTX_LOCAL_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie))) {
            cookies_.push_back(cookie);
            factories_.push_back(factory);
        } else {
            factory->Release();
        }
    }
}

void TComServer::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
    cookies_.clear();
    for (TClassFactory* f : factories_) f->Release();
    factories_.clear();
    DisconnectAllServers();
}

}  // namespace tw::opc
