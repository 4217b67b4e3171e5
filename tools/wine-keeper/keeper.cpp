// tw-keeper.exe: holds one Wine process (and so wineserver and the prefix's services) alive while a
// test session runs, so each test process starts in milliseconds instead of seconds.
//   tw-keeper.exe keep [seconds]   wait until told to stop (or the time is up)
//   tw-keeper.exe ready            wait until a keeper runs (exit 0) or give up after 30 s (exit 1)
//   tw-keeper.exe stop             tell the keeper to end
#include <windows.h>
#include <cwchar>

namespace {
const wchar_t kStopEvent[] = L"TarnowickWineKeeperStop";
}

int wmain(int argc, wchar_t** argv) {
    const wchar_t* mode = argc > 1 ? argv[1] : L"";
    if (std::wcscmp(mode, L"keep") == 0) {
        HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, kStopEvent);
        if (!stop) return 1;
        DWORD secs = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 3600;
        DWORD r = WaitForSingleObject(stop, secs * 1000);
        CloseHandle(stop);
        return r == WAIT_OBJECT_0 ? 0 : 1;
    }
    if (std::wcscmp(mode, L"ready") == 0) {
        for (int i = 0; i < 300; ++i, Sleep(100)) {
            if (HANDLE e = OpenEventW(SYNCHRONIZE, FALSE, kStopEvent)) {
                CloseHandle(e);
                return 0;
            }
        }
        return 1;
    }
    if (std::wcscmp(mode, L"stop") == 0) {
        HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, kStopEvent);
        if (!stop) return 1;
        SetEvent(stop);
        CloseHandle(stop);
        return 0;
    }
    return 2;
}
