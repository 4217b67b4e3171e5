// The COM server layer of the process: start mode from the command line, class and type-library
// registration at every start, the class objects, and the end of a process that COM started.
#pragma once

#include <windows.h>

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
    // Registers (or, in the unregister mode, removes) the classes and the type library. False in the
    // register and unregister modes: the process must end without a window. Otherwise announces the
    // class objects to COM and returns true.
    bool Initialize();
    bool StartedByCom() const;
    // Server objects made through the factory plus LockServer locks.
    long LiveCount() const { return lifetime_.Count(); }
    // Revokes the class objects and cuts remaining server objects off; once, before COM ends.
    void Shutdown();

private:
    bool RegisterAll();
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
};

}  // namespace tw::opc
