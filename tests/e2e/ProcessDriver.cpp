#include "ProcessDriver.h"

#include <algorithm>
#include <commctrl.h>
#include <cwchar>
#include <tlhelp32.h>

namespace tw::e2e {

namespace {

struct FindArgs {
    DWORD pid;
    const wchar_t* className;
    HWND found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM lp) {
    auto* a = reinterpret_cast<FindArgs*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (pid == a->pid && IsWindowVisible(hwnd) && std::wcscmp(cls, a->className) == 0) {
        a->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindWindowOf(DWORD pid, const wchar_t* className) {
    FindArgs a{pid, className};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&a));
    return a.found;
}

std::wstring StripAmpersand(std::wstring s) {
    s.erase(std::remove(s.begin(), s.end(), L'&'), s.end());
    return s;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> all;
    EnumChildWindows(
        parent,
        [](HWND h, LPARAM lp) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

bool IsClass(HWND h, const wchar_t* name) {
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    return _wcsicmp(cls, name) == 0;
}

// A visible dialog box (#32770) of the process that `matches`, waited for.
template <class Match>
HWND WaitForDialogWhere(DWORD pid, DWORD timeoutMs, Match matches) {
    struct Args {
        DWORD pid;
        Match* matches;
        HWND found;
    } a{pid, &matches, nullptr};
    for (DWORD waited = 0;; waited += 50) {
        EnumWindows(
            [](HWND h, LPARAM lp) -> BOOL {
                auto* a = reinterpret_cast<Args*>(lp);
                DWORD pid = 0;
                GetWindowThreadProcessId(h, &pid);
                if (pid != a->pid || !IsWindowVisible(h) || !IsClass(h, L"#32770") || !(*a->matches)(h)) return TRUE;
                a->found = h;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&a));
        if (a.found || waited >= timeoutMs) return a.found;
        Sleep(50);
    }
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
    std::pair<DWORD, std::vector<HWND>> found{pid, {}};
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            auto* f = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            if (owner == f->first) f->second.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.second;
}

// Walks a system snapshot (of processes or of threads); `take` adds the ids it wants.
template <class TEntry, class TTake>
std::vector<DWORD> SnapshotIds(DWORD what, BOOL(WINAPI* first)(HANDLE, TEntry*), BOOL(WINAPI* next)(HANDLE, TEntry*),
                               TTake take) {
    std::vector<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(what, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    TEntry entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = first(snap, &entry); ok; ok = next(snap, &entry)) take(entry, ids);
    CloseHandle(snap);
    return ids;
}

std::vector<DWORD> ThreadIdsOf(DWORD pid) {
    return SnapshotIds(TH32CS_SNAPTHREAD, Thread32First, Thread32Next,
                       [pid](const THREADENTRY32& t, std::vector<DWORD>& ids) {
                           if (t.th32OwnerProcessID == pid) ids.push_back(t.th32ThreadID);
                       });
}

}  // namespace

bool CloseProcess(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    if (!process) return true;  // gone already
    const auto endsWithin = [process](DWORD ms) { return WaitForSingleObject(process, ms) == WAIT_OBJECT_0; };
    bool ended = endsWithin(0);
    if (!ended) {
        // A gateway ends on "Exit" after asking its OPC clients to let go (it waits about 5 s for them);
        // any other program is asked to close its windows.
        bool gateway = false;
        for (HWND h : TopLevelWindows(pid))
            if (IsClass(h, L"TfrmMain")) gateway |= SendCopyData(h, "Exit");
        if (!gateway)
            for (HWND h : TopLevelWindows(pid))
                if (IsWindowVisible(h)) PostMessageW(h, WM_CLOSE, 0, 0);
        // A message box that comes up meanwhile (a warning from a timer, say) would hold the close
        // forever: each is closed as an operator would close it.
        for (int i = 0; i < 60 && !ended; ++i) {
            for (HWND h : TopLevelWindows(pid))
                if (IsWindowVisible(h) && IsClass(h, L"#32770")) PostMessageW(h, WM_CLOSE, 0, 0);
            ended = endsWithin(500);
        }
    }
    if (!ended) {
        for (DWORD thread : ThreadIdsOf(pid)) PostThreadMessageW(thread, WM_QUIT, 0, 0);
        ended = endsWithin(5000);
    }
    if (!ended) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
    return ended;
}

std::vector<DWORD> ProcessIdsOf(const std::wstring& exeName) {
    return SnapshotIds(TH32CS_SNAPPROCESS, Process32FirstW, Process32NextW,
                       [&exeName](const PROCESSENTRY32W& p, std::vector<DWORD>& ids) {
                           if (_wcsicmp(p.szExeFile, exeName.c_str()) == 0) ids.push_back(p.th32ProcessID);
                       });
}

std::wstring BinFolder() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::vector<std::wstring> GatewayFiles() {
    return {L"Tarnowick.exe", L"vxOpcData.dll", L"vxDataAccess.dll", L"vxGeneral.dll", L"vxSecurity.dll"};
}

std::wstring InstallCopy(const std::wstring& name, const std::vector<std::wstring>& files) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring root = std::wstring(temp) + L"tw e2e\\";
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring dir = root + name + L"\\";
    // Start from an empty folder: no database or settings of an earlier run.
    WIN32_FIND_DATAW fd;
    HANDLE f = FindFirstFileW((dir + L"*").c_str(), &fd);
    if (f != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((dir + fd.cFileName).c_str());
        } while (FindNextFileW(f, &fd));
        FindClose(f);
    }
    CreateDirectoryW(dir.c_str(), nullptr);
    for (const auto& file : files) CopyFileW((BinFolder() + file).c_str(), (dir + file).c_str(), FALSE);
    return dir;
}

void RemoveCopy(const std::wstring& folder) {
    for (const std::wstring& file : GatewayFiles()) DeleteFileW((folder + file).c_str());
    for (const wchar_t* file : {L"TARNOWICK.GDB", L"Tarnowick.ini"}) DeleteFileW((folder + file).c_str());
    RemoveDirectoryW(folder.c_str());
}

TProcess::~TProcess() {
    if (process_) {
        if (Running()) CloseProcess(pid_);
        CloseHandle(process_);
    }
}

TProcess::TProcess(TProcess&& o) noexcept : process_(o.process_), pid_(o.pid_) {
    o.process_ = nullptr;
    o.pid_ = 0;
}

TProcess TProcess::Start(const std::wstring& exe, const std::wstring& args) {
    TProcess p;
    std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    std::wstring dir = exe.substr(0, exe.find_last_of(L'\\'));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        p.process_ = pi.hProcess;
        p.pid_ = pi.dwProcessId;
    }
    return p;
}

bool TProcess::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool TProcess::WaitExit(DWORD timeoutMs, DWORD* exitCode) const {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(process_, exitCode);
    return true;
}

HWND WaitForWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 50) {
        if (HWND h = FindWindowOf(pid, className)) return h;
        if (waited >= timeoutMs) return nullptr;
        Sleep(50);
    }
}

HWND AnyDialog(DWORD pid) { return FindWindowOf(pid, L"#32770"); }

HWND WaitForDialog(DWORD pid, const std::wstring& text, DWORD timeoutMs) {
    return WaitForDialogWhere(pid, timeoutMs, [&text](HWND dialog) {
        for (HWND c : Children(dialog))
            if (IsClass(c, L"Static") && WindowText(c).find(text) != std::wstring::npos) return true;
        return false;
    });
}

std::wstring WindowText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        5000, &copied);
    text.resize(copied);
    return text;
}

std::vector<std::wstring> ButtonCaptions(HWND dialog) {
    std::vector<std::wstring> captions;
    for (HWND c : Children(dialog))
        if (IsClass(c, L"Button") && IsWindowVisible(c)) captions.push_back(StripAmpersand(WindowText(c)));
    return captions;
}

bool PressButton(HWND dialog, const std::wstring& caption) {
    for (HWND c : Children(dialog))
        if (IsClass(c, L"Button") && StripAmpersand(WindowText(c)) == caption) {
            // Posted as the button's notification: the box may end its process before answering.
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), BN_CLICKED), reinterpret_cast<LPARAM>(c));
            return true;
        }
    return false;
}

HWND Control(HWND parent, int controlId) {
    for (HWND c : Children(parent))
        if (GetDlgCtrlID(c) == controlId) return c;
    return nullptr;
}

std::wstring ControlText(HWND parent, int controlId) {
    HWND c = Control(parent, controlId);
    return c ? WindowText(c) : std::wstring();
}

HWND WaitForDialogTitled(DWORD pid, const std::wstring& caption, DWORD timeoutMs) {
    return WaitForDialogWhere(pid, timeoutMs, [&caption](HWND dialog) { return WindowText(dialog) == caption; });
}

bool SaveScreenshot(HWND hwnd, const std::wstring& path) {
    // The client area: without a window manager the frame is not drawn where the window rect says.
    RECT r;
    POINT origin{0, 0};
    if (!GetClientRect(hwnd, &r) || !ClientToScreen(hwnd, &origin)) return false;
    OffsetRect(&r, origin.x, origin.y);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files store it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib) {
        HGDIOBJ old = SelectObject(mem, dib);
        ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(mem, old);
        const DWORD stride = ((w * 3 + 3) / 4) * 4, size = stride * h;
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
        fh.bfSize = fh.bfOffBits + size;
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ok = ok && f != INVALID_HANDLE_VALUE && WriteFile(f, &fh, sizeof fh, &written, nullptr) &&
             WriteFile(f, &bi.bmiHeader, sizeof bi.bmiHeader, &written, nullptr) &&
             WriteFile(f, bits, size, &written, nullptr);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool SendCopyData(HWND target, const std::string& bytes) {
    COPYDATASTRUCT cds{};
    cds.cbData = static_cast<DWORD>(bytes.size());
    cds.lpData = const_cast<char*>(bytes.data());
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, 10000,
                               &result) != 0;
}

}  // namespace tw::e2e

namespace tw::e2e {

namespace {

// Memory in the process that owns a window: common controls read and write the buffers of their
// messages in their own process.
class TRemoteBuffer {
public:
    TRemoteBuffer(HWND window, SIZE_T size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_) memory_ = static_cast<char*>(VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    }
    ~TRemoteBuffer() {
        if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    TRemoteBuffer(const TRemoteBuffer&) = delete;
    TRemoteBuffer& operator=(const TRemoteBuffer&) = delete;

    explicit operator bool() const { return memory_ != nullptr; }
    char* At(SIZE_T offset) const { return memory_ + offset; }
    bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
        return offset + size <= size_ && WriteProcessMemory(process_, memory_ + offset, data, size, nullptr);
    }
    bool Read(SIZE_T offset, void* data, SIZE_T size) const {
        return offset + size <= size_ && ReadProcessMemory(process_, memory_ + offset, data, size, nullptr);
    }

private:
    HANDLE process_ = nullptr;
    char* memory_ = nullptr;
    SIZE_T size_;
};

constexpr int kRemoteChars = 256;

std::vector<HWND> HintWindows(DWORD pid) {
    struct Args {
        DWORD pid;
        std::vector<HWND> found;
    } a{pid, {}};
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            auto* a = reinterpret_cast<Args*>(lp);
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid == a->pid && IsClass(h, TOOLTIPS_CLASSW)) a->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&a));
    return a.found;
}

}  // namespace

std::wstring ListViewCell(HWND listView, int item, int subItem) {
    TRemoteBuffer remote(listView, sizeof(LVITEMW) + kRemoteChars * sizeof(wchar_t));
    if (!remote) return {};
    LVITEMW request{};
    request.iSubItem = subItem;
    request.cchTextMax = kRemoteChars;
    request.pszText = reinterpret_cast<wchar_t*>(remote.At(sizeof(LVITEMW)));
    wchar_t buffer[kRemoteChars] = {};
    DWORD_PTR length = 0;
    if (!remote.Write(0, &request, sizeof request) ||
        !SendMessageTimeoutW(listView, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(remote.At(0)),
                             SMTO_ABORTIFHUNG, 5000, &length) ||
        !remote.Read(sizeof(LVITEMW), buffer, sizeof buffer))
        return {};
    return std::wstring(buffer, std::min<std::size_t>(length, kRemoteChars - 1));
}

std::vector<THint> Hints(DWORD pid) {
    std::vector<THint> hints;
    for (HWND tips : HintWindows(pid)) {
        TRemoteBuffer remote(tips, sizeof(TTTOOLINFOW) + kRemoteChars * sizeof(wchar_t));
        if (!remote) continue;
        DWORD_PTR count = 0;
        SendMessageTimeoutW(tips, TTM_GETTOOLCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
        for (DWORD_PTR i = 0; i < count; ++i) {
            TTTOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.lpszText = reinterpret_cast<wchar_t*>(remote.At(sizeof tool));
            const wchar_t none = 0;
            DWORD_PTR found = 0;
            wchar_t text[kRemoteChars] = {};
            if (remote.Write(0, &tool, sizeof tool) && remote.Write(sizeof tool, &none, sizeof none) &&
                SendMessageTimeoutW(tips, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote.At(0)), SMTO_ABORTIFHUNG,
                                    5000, &found) &&
                found && remote.Read(0, &tool, sizeof tool) && remote.Read(sizeof tool, text, sizeof text)) {
                text[kRemoteChars - 1] = 0;
                const HWND control = tool.uFlags & TTF_IDISHWND ? reinterpret_cast<HWND>(tool.uId) : nullptr;
                hints.push_back(THint{control, text});
            }
        }
    }
    return hints;
}

HWND ShowHint(DWORD pid, HWND control, DWORD timeoutMs) {
    RECT r;
    GetWindowRect(control, &r);
    // Near the top edge: the hint shows below the pointer and stays inside the window.
    const POINT at{(r.left + r.right) / 2, r.top + (r.bottom - r.top) / 4};
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    do {
        // The pointer itself: the hint checks where it is before showing.
        SetCursorPos(at.x, at.y);
        POINT inside = at;
        ScreenToClient(control, &inside);
        PostMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(inside.x, inside.y));
        for (int i = 0; i < 10; ++i) {
            Sleep(100);
            for (HWND tips : HintWindows(pid))
                if (IsWindowVisible(tips)) return tips;
        }
    } while (GetTickCount64() < until);
    return nullptr;
}

bool TakeScreenshot(HWND hwnd, const std::wstring& name) {
    Sleep(300);
    CreateDirectoryW(L"screenshots", nullptr);
    return SaveScreenshot(hwnd, L"screenshots\\" + name);
}

void ClickTab(HWND tabs, int index) {
    const LPARAM at = MAKELPARAM(30 + 60 * index, 10);
    PostMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(tabs, WM_LBUTTONUP, 0, at);
}

}  // namespace tw::e2e
