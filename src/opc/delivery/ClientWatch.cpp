#include "opc/delivery/ClientWatch.h"

#include <windows.h>

#include <atomic>

#include "opc/delivery/SinkRelease.h"

namespace tw::opc {
namespace {

constexpr UINT kClientLostMessage = WM_APP + 0x51;
constexpr UINT kRefsGivenBackMessage = WM_APP + 0x52;
constexpr UINT_PTR kStuckTimer = 1;
constexpr UINT kStuckCheckMs = 1000;
constexpr wchar_t kWatchClass[] = L"TarnowickClientWatch";

std::atomic<HWND> watchWindow{nullptr};
void (*watchCheck)() = nullptr;

LRESULT CALLBACK WatchProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kClientLostMessage || (msg == WM_TIMER && wp == kStuckTimer)) {
        if (watchCheck) watchCheck();
        return 0;
    }
    if (msg == kRefsGivenBackMessage) {
        ReleaseGivenBack();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void WatchClients(void (*check)()) {
    watchCheck = check;
    if (watchWindow.load()) return;
    WNDCLASSW wc{};
    wc.lpfnWndProc = WatchProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWatchClass;
    RegisterClassW(&wc);  // a second registration fails harmlessly
    HWND window = CreateWindowExW(0, kWatchClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (!window) return;
    SetTimer(window, kStuckTimer, kStuckCheckMs, nullptr);
    watchWindow = window;
}

void ReportLostClient() {
    if (HWND window = watchWindow.load()) PostMessageW(window, kClientLostMessage, 0, 0);
}

void ReportRefsGivenBack() {
    if (HWND window = watchWindow.load()) PostMessageW(window, kRefsGivenBackMessage, 0, 0);
}

}  // namespace tw::opc
