#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/pause.h"
#include "zkhost/window_check.h"

namespace zkhost {

namespace {

std::wstring FromUtf8(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string ToUtf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring TextOf(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(h, w.data(), n + 1);
    w.resize(static_cast<std::size_t>(n));
    return w;
}

struct Children {
    std::vector<HWND> list;
};

BOOL CALLBACK AddChild(HWND h, LPARAM lp) {
    reinterpret_cast<Children*>(lp)->list.push_back(h);
    return TRUE;
}

class Checker {
public:
    bool ok = true;
    void Expect(bool condition, const char* what) {
        std::printf("window check: %-58s %s\n", what, condition ? "ok" : "FAILED");
        if (!condition) ok = false;
    }
};

}  // namespace

bool CheckStatusWindow(zktool::DriverApi& api, void* driver, const std::string& caption, bool show) {
    Checker c;
    const std::wstring wanted = FromUtf8(caption);
    HWND w = FindWindowW(nullptr, wanted.c_str());
    c.Expect(w != nullptr, "a top-level window with the instance's caption");
    if (!w) return false;
    c.Expect(GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId(), "it belongs to the thread that called Init");

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    RECT client{};
    GetClientRect(w, &client);
    std::printf("window check: screen %d DPI, client area %ld x %ld\n", dpi, client.right, client.bottom);
    c.Expect(client.right == MulDiv(337, dpi, 96) && client.bottom == MulDiv(301, dpi, 96),
             "client area 337 x 301 at 96 DPI, scaled");
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    c.Expect((style & WS_SYSMENU) && (style & WS_MINIMIZEBOX) && !(style & WS_MAXIMIZEBOX) && !(style & WS_THICKFRAME),
             "fixed border, system menu and minimise button only");
    c.Expect(!IsWindowVisible(w), "hidden until the host shows it");

    api.DriverProc(driver, 1, 0, 0, 0, 0);
    c.Expect(IsWindowVisible(w) != 0, "DriverProc 1 shows it");
    SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageW(w, WM_CLOSE, 0, 0);
    zktool::Pause(0.2);
    c.Expect(IsWindow(w) && IsWindowVisible(w), "a close request leaves it open");
    api.DriverProc(driver, 2, 0, 0, 0, 0);
    c.Expect(IsIconic(w) != 0, "DriverProc 2 minimises it");
    api.DriverProc(driver, 3, 0, 0, 0, 0);
    c.Expect(!IsIconic(w) && IsWindowVisible(w), "DriverProc 3 restores it");
    RECT original{};
    GetWindowRect(w, &original);
    api.DriverProc(driver, 5, 40, 30, 420, 380);
    RECT r{};
    GetWindowRect(w, &r);
    std::printf("window check: bounds %ld,%ld %ld x %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    c.Expect(r.left == 40 && r.top == 30 && r.right - r.left == 420 && r.bottom - r.top == 380,
             "DriverProc 5 sets its bounds");
    api.DriverProc(driver, 6, 1, 0, 0, 0);  // zkhost's login level is 0
    c.Expect(!IsWindowEnabled(w), "DriverProc 6 above the login level disables it");
    api.DriverProc(driver, 6, 0, 0, 0, 0);
    c.Expect(IsWindowEnabled(w) != 0, "DriverProc 6 at the login level enables it");
    api.DriverProc(driver, 4, 0, 0, 0, 0);
    zktool::Pause(0.2);
    c.Expect(GetForegroundWindow() == w || GetActiveWindow() == w, "DriverProc 4 gives it the focus");
    api.DriverProc(driver, 0, 0, 0, 0, 0);
    c.Expect(!IsWindowVisible(w) && IsWindow(w), "DriverProc 0 hides it");
    // A request from another thread is handed to the window's thread, which carries it out
    // when it next handles its messages.
    std::thread([&] { api.DriverProc(driver, 1, 0, 0, 0, 0); }).join();
    zktool::Pause(0.2);
    c.Expect(IsWindowVisible(w) != 0, "DriverProc 1 from another thread shows it");
    std::thread([&] { api.DriverProc(driver, 0, 0, 0, 0, 0); }).join();
    zktool::Pause(0.2);
    c.Expect(!IsWindowVisible(w), "DriverProc 0 from another thread hides it");

    // The children show the model: the event list and the port line written by Init.
    zktool::Pause(0.5);
    Children kids;
    EnumChildWindows(w, AddChild, reinterpret_cast<LPARAM>(&kids));
    std::wstring events, com;
    for (HWND k : kids.list) {
        wchar_t cls[32] = {};
        GetClassNameW(k, cls, 32);
        const std::wstring text = TextOf(k);
        if (lstrcmpiW(cls, L"Edit") == 0) events = text;
        else if (text.rfind(L"P\u0159ipojen\u00ed: COM", 0) == 0) com = text;
    }
    std::printf("window check: event list:\n%s\n", ToUtf8(events).c_str());
    std::printf("window check: port line: %s\n", ToUtf8(com).c_str());
    c.Expect(events.find(L"Inicializace OK") != std::wstring::npos, "the event list shows the start-up lines");
    c.Expect(!com.empty(), "the port line reads \"P\u0159ipojen\u00ed: COM...\"" );

    // Back where it was: shown at the centre, or hidden.
    api.DriverProc(driver, 5, static_cast<std::uint32_t>(original.left), static_cast<std::uint32_t>(original.top),
                   static_cast<std::uint32_t>(original.right - original.left),
                   static_cast<std::uint32_t>(original.bottom - original.top));
    if (show) api.DriverProc(driver, 1, 0, 0, 0, 0);
    std::printf("window check: %s\n", c.ok ? "passed" : "FAILED");
    std::fflush(stdout);
    return c.ok;
}

}  // namespace zkhost
