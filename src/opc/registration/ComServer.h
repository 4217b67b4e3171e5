// The COM server layer of the process: start mode from the command line, class and type-library
// registration at every start, the class objects, and the end of a process that COM started.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "libs/General.h"
#include "opc/registration/ClassFactory.h"
#include "opc/registration/Registry.h"

namespace tw::opc {

enum class TStartMode { Normal, Automation, Embedding, RegServer, UnregServer };

// Switches are words after "/" or "-", compared without regard to case.
bool HasSwitch(const wchar_t* commandLine, const wchar_t* name);
// AUTOMATION and EMBEDDING win over REGSERVER, which wins over UNREGSERVER.
TStartMode ParseStartMode(const wchar_t* commandLine);
// The exe's own full path.
std::wstring ProcessExePath();

// Exit code of the register and unregister modes when a registry write or a proxy/stub's registration
// failed (0: done; 1: another instance is running, and nothing was done).
constexpr int kExitRegistrationFailed = 2;

class TComServer {
public:
    // COM is already initialised. Messages go to general when one is given.
    explicit TComServer(const wchar_t* commandLine);
    TComServer(const wchar_t* commandLine, IGeneral& general);
    ~TComServer();
    TComServer(const TComServer&) = delete;
    TComServer& operator=(const TComServer&) = delete;

    void SetGeneral(IGeneral& general) { general_ = &general; }
    // Tests point registration at a registry of their own and at another executable path.
    void SetRegistry(IClassesRegistry& registry) { registry_ = &registry; }
    void SetExePath(const std::wstring& exePath) { exePath_ = exePath; }

    TStartMode Mode() const { return mode_; }
    // Registers (or, in the unregister mode, removes) the classes and the type library; in those two
    // modes the proxy/stubs beside the exe as well. False in the register and unregister modes: the
    // process must end without a window. Otherwise announces the class objects to COM and returns true.
    bool Initialize();
    // The register or unregister mode with the switch S (as the installer starts it): no message box,
    // the exit code tells.
    bool Silent() const { return silent_; }
    // What the process returns after Initialize() answered false: 0 or kExitRegistrationFailed.
    int ExitCode() const { return failed_ ? kExitRegistrationFailed : 0; }
    bool StartedByCom() const;
    // Server objects made through the factory plus LockServer locks.
    long LiveCount() const { return lifetime_.Count(); }
    // Revokes the class objects and cuts remaining server objects off; once, before COM ends.
    void Shutdown();

private:
    bool RegisterAll(bool withProxyStubs);
    void RegisterClassObjects();

    TStartMode mode_;
    IGeneral* general_ = nullptr;
    TClassesRootRegistry rootRegistry_;
    IClassesRegistry* registry_ = &rootRegistry_;
    std::wstring exePath_;
    TServerLifetime lifetime_;
    std::vector<DWORD> cookies_;
    std::vector<TClassFactory*> factories_;
    bool shutDown_ = false;
    bool silent_ = false;
    bool failed_ = false;
};

}  // namespace tw::opc
