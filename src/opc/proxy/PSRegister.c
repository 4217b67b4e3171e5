/* Registration of the proxy/stub DLL. A machine that already has a proxy/stub registered for an OPC
 * interface (the standard OPC one) keeps it: registering ours over it would change the marshalling
 * of every OPC application there. Ours is written only for interfaces without one, and removed only
 * where it is ours. */
#include <windows.h>
#include <objbase.h>
#include <rpcproxy.h>
#include <wchar.h>

void RPC_ENTRY GetProxyDllInfo(const ProxyFileInfo ***pInfo, const CLSID **pId);

static HINSTANCE psModule;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        psModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

static LONG SetValue(const wchar_t *path, const wchar_t *name, const wchar_t *value)
{
    HKEY key;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(key, name, 0, REG_SZ, (const BYTE *)value, (DWORD)((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc;
}

/* The CLSID registered as the interface's proxy/stub, or an empty string. */
static void RegisteredProxy(const wchar_t *iidText, wchar_t *out, DWORD outChars)
{
    wchar_t path[96];
    DWORD bytes = outChars * sizeof(wchar_t);
    out[0] = 0;
    swprintf(path, 96, L"Interface\\%ls\\ProxyStubClsid32", iidText);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path, NULL, RRF_RT_REG_SZ, NULL, out, &bytes) != ERROR_SUCCESS) out[0] = 0;
}

typedef LONG (*InterfaceAction)(const wchar_t *iidText, const char *name, ULONG methods, const wchar_t *ourClsid);

static LONG ForEachInterface(InterfaceAction action, wchar_t *ourClsid)
{
    const ProxyFileInfo **files;
    const CLSID *clsid;
    LONG result = ERROR_SUCCESS;
    GetProxyDllInfo(&files, &clsid);
    StringFromGUID2(clsid, ourClsid, 40);
    for (; *files; ++files) {
        for (unsigned short i = 0; i < (*files)->TableSize; ++i) {
            const CInterfaceStubHeader *stub = &(*files)->pStubVtblList[i]->header;
            wchar_t iidText[40];
            StringFromGUID2(stub->piid, iidText, 40);
            LONG rc = action(iidText, (*files)->pNamesArray[i], stub->DispatchTableCount, ourClsid);
            if (rc != ERROR_SUCCESS) result = rc;
        }
    }
    return result;
}

static LONG RegisterInterface(const wchar_t *iidText, const char *name, ULONG methods, const wchar_t *ourClsid)
{
    wchar_t existing[64], path[96], wideName[128], count[16];
    RegisteredProxy(iidText, existing, 64);
    if (existing[0] && _wcsicmp(existing, ourClsid) != 0) return ERROR_SUCCESS;
    MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 128);
    swprintf(count, 16, L"%lu", methods);
    swprintf(path, 96, L"Interface\\%ls", iidText);
    LONG rc = SetValue(path, NULL, wideName);
    swprintf(path, 96, L"Interface\\%ls\\NumMethods", iidText);
    if (rc == ERROR_SUCCESS) rc = SetValue(path, NULL, count);
    swprintf(path, 96, L"Interface\\%ls\\ProxyStubClsid32", iidText);
    if (rc == ERROR_SUCCESS) rc = SetValue(path, NULL, ourClsid);
    return rc;
}

static LONG UnregisterInterface(const wchar_t *iidText, const char *name, ULONG methods, const wchar_t *ourClsid)
{
    wchar_t existing[64], path[96];
    (void)name;
    (void)methods;
    RegisteredProxy(iidText, existing, 64);
    if (!existing[0] || _wcsicmp(existing, ourClsid) != 0) return ERROR_SUCCESS;
    swprintf(path, 96, L"Interface\\%ls", iidText);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, path);
    return ERROR_SUCCESS;
}

HRESULT WINAPI DllRegisterServer(void)
{
    wchar_t ourClsid[40], module[MAX_PATH], path[96];
    const ProxyFileInfo **files;
    const CLSID *clsid;
    GetProxyDllInfo(&files, &clsid);
    StringFromGUID2(clsid, ourClsid, 40);
    if (!GetModuleFileNameW(psModule, module, MAX_PATH)) return HRESULT_FROM_WIN32(GetLastError());

    swprintf(path, 96, L"CLSID\\%ls", ourClsid);
    LONG rc = SetValue(path, NULL, L"PSFactoryBuffer");
    swprintf(path, 96, L"CLSID\\%ls\\InprocServer32", ourClsid);
    if (rc == ERROR_SUCCESS) rc = SetValue(path, NULL, module);
    if (rc == ERROR_SUCCESS) rc = SetValue(path, L"ThreadingModel", L"Both");
    if (rc == ERROR_SUCCESS) rc = ForEachInterface(RegisterInterface, ourClsid);
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT WINAPI DllUnregisterServer(void)
{
    wchar_t ourClsid[40], path[96];
    ForEachInterface(UnregisterInterface, ourClsid);
    swprintf(path, 96, L"CLSID\\%ls", ourClsid);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, path);
    return S_OK;
}
