// The status window as a native dialog: client area 337 x 301 at 96 DPI, centred, a single
// fixed border with the system menu and the minimise button, the identity labels, the event
// list (a read-only edit control), the group box "Stav ovladače" with six pictures and six
// status lines, the picture at the top right and an icon. Every position is given at 96 DPI and
// scaled to the screen's DPI. The pictures and the icon are drawn here with plain GDI.
//
// Texts come from the model in code page 1250 and go to the window as UTF-16, so the window
// shows them right whatever the system's ANSI code page is.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/cp1250.h"
#include "base/texts.h"
#include "diag/status_view.h"
#include "platform/platform.h"

namespace zk {

namespace {

// ---- The form, at 96 DPI --------------------------------------------------------------------

constexpr int kClientWidth = 337;
constexpr int kClientHeight = 301;
constexpr RECT kImage1 = {251, 2, 251 + 80, 2 + 37};
constexpr POINT kLabelName = {8, 8};
constexpr POINT kLabelVersion = {8, 24};
constexpr RECT kEventList = {8, 45, 8 + 321, 45 + 137};
constexpr RECT kGroupBox = {8, 184, 8 + 321, 184 + 113};
constexpr int kStatusPictureX = 8;  // inside the group box
constexpr int kStatusLabelX = 24;
constexpr int kLabelHeight = 13;
// Rows of the six status lines inside the group box, top to bottom, and the model's label of
// each row.
constexpr std::array<int, kStatusLabelCount> kStatusRows = {16, 32, 48, 64, 80, 96};
constexpr std::array<StatusLabel, kStatusLabelCount> kRowLabel = {LabelCOM, LabelIdle, LabelTransmit,
                                                                  LabelPacket, LabelPRN, LabelMem};

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 250;
constexpr UINT kApplyMessage = WM_APP + 1;    // wParam: a host request code
constexpr UINT kDestroyMessage = WM_APP + 2;  // Done on another thread

std::wstring Wide(std::string_view cp1250) {
    std::wstring out;
    out.reserve(cp1250.size());
    for (const char ch : cp1250) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) out += static_cast<wchar_t>(b);
        else if (const char16_t u = kCp1250High[b - 0x80]) out += static_cast<wchar_t>(u);
        else out += L'?';
    }
    return out;
}

// What the view shows of the model, copied under the lock.
struct Shown {
    std::string Caption, LabelName, LabelVersion, Events;
    std::array<std::string, kStatusLabelCount> Labels;
};

// What a host request needs of the model.
struct Placement {
    bool Visible = false, Minimised = false, Enabled = true;
    RECT Bounds{};
};

// ---- The pictures ---------------------------------------------------------------------------

// Draws in a 96-DPI design space placed at (x, y) and scaled to the screen.
class Pen96 {
public:
    Pen96(HDC dc, int x, int y, int dpi) : dc_(dc), x_(x), y_(y), dpi_(dpi) {}
    int X(int v) const { return x_ + MulDiv(v, dpi_, 96); }
    int Y(int v) const { return y_ + MulDiv(v, dpi_, 96); }
    int S(int v) const { return MulDiv(v, dpi_, 96); }
    void Fill(int l, int t, int r, int b, COLORREF c) const {
        const RECT rc = {X(l), Y(t), X(r), Y(b)};
        HBRUSH br = CreateSolidBrush(c);
        FillRect(dc_, &rc, br);
        DeleteObject(br);
    }
    void Line(int x1, int y1, int x2, int y2, COLORREF c, int width = 1) const {
        HPEN pen = CreatePen(PS_SOLID, std::max(1, S(width)), c);
        HGDIOBJ old = SelectObject(dc_, pen);
        MoveToEx(dc_, X(x1), Y(y1), nullptr);
        LineTo(dc_, X(x2), Y(y2));
        SelectObject(dc_, old);
        DeleteObject(pen);
    }
    void Ellipse(int l, int t, int r, int b, COLORREF fill, COLORREF edge) const {
        HBRUSH br = CreateSolidBrush(fill);
        HPEN pen = CreatePen(PS_SOLID, 1, edge);
        HGDIOBJ ob = SelectObject(dc_, br), op = SelectObject(dc_, pen);
        ::Ellipse(dc_, X(l), Y(t), X(r), Y(b));
        SelectObject(dc_, ob);
        SelectObject(dc_, op);
        DeleteObject(br);
        DeleteObject(pen);
    }
    void Frame(int l, int t, int r, int b, COLORREF fill, COLORREF edge) const {
        Fill(l, t, r, b, edge);
        Fill(l + 1, t + 1, r - 1, b - 1, fill);
    }
    void Polygon(std::initializer_list<POINT> pts, COLORREF fill) const {
        std::vector<POINT> p;
        for (const POINT& q : pts) p.push_back({X(q.x), Y(q.y)});
        HBRUSH br = CreateSolidBrush(fill);
        HPEN pen = CreatePen(PS_SOLID, 1, fill);
        HGDIOBJ ob = SelectObject(dc_, br), op = SelectObject(dc_, pen);
        ::Polygon(dc_, p.data(), static_cast<int>(p.size()));
        SelectObject(dc_, ob);
        SelectObject(dc_, op);
        DeleteObject(br);
        DeleteObject(pen);
    }

private:
    HDC dc_;
    int x_, y_, dpi_;
};

constexpr COLORREF kNavy = RGB(0, 51, 128);
constexpr COLORREF kBlue = RGB(32, 96, 200);
constexpr COLORREF kGreen = RGB(0, 140, 60);
constexpr COLORREF kYellow = RGB(255, 204, 0);
constexpr COLORREF kGrey = RGB(96, 96, 96);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(200, 32, 32);

// The 12 x 12 picture in front of a status line.
void DrawStatusPicture(const Pen96& p, StatusLabel which) {
    switch (which) {
        case LabelCOM:  // a serial connector: a trapezoid with pins
            p.Polygon({{0, 2}, {12, 2}, {10, 10}, {2, 10}}, kGrey);
            for (int x = 3; x <= 8; x += 2) p.Fill(x, 4, x + 1, 5, kYellow);
            for (int x = 4; x <= 7; x += 2) p.Fill(x, 7, x + 1, 8, kYellow);
            break;
        case LabelIdle:  // a clock
            p.Ellipse(0, 0, 12, 12, kWhite, kNavy);
            p.Line(6, 6, 6, 2, kNavy);
            p.Line(6, 6, 9, 6, kRed);
            break;
        case LabelTransmit:  // a request going out and one coming back
            p.Polygon({{0, 2}, {7, 2}, {7, 0}, {11, 3}, {7, 6}, {7, 4}, {0, 4}}, kGreen);
            p.Polygon({{11, 8}, {4, 8}, {4, 6}, {0, 9}, {4, 12}, {4, 10}, {11, 10}}, kBlue);
            break;
        case LabelPacket:  // an envelope
            p.Frame(0, 2, 12, 11, kWhite, kNavy);
            p.Line(0, 2, 6, 7, kNavy);
            p.Line(6, 7, 12, 2, kNavy);
            break;
        case LabelPRN:  // a written page
            p.Frame(2, 0, 11, 12, kWhite, kGrey);
            for (int y = 3; y <= 9; y += 2) p.Line(4, y, 9, y, kBlue);
            break;
        case LabelMem:  // a memory chip
            p.Fill(2, 2, 10, 10, RGB(40, 40, 40));
            for (int k = 3; k <= 8; k += 2) {
                p.Fill(0, k, 2, k + 1, kGrey);
                p.Fill(10, k, 12, k + 1, kGrey);
            }
            p.Fill(3, 3, 5, 5, kYellow);
            break;
        default:
            break;
    }
}

// The 80 x 37 picture at the top right: a modem with its line.
void DrawImage1(const Pen96& p) {
    p.Frame(0, 12, 46, 34, RGB(224, 224, 224), kGrey);  // the case
    p.Fill(1, 28, 45, 33, RGB(160, 160, 160));
    for (int i = 0; i < 4; ++i) p.Ellipse(5 + 8 * i, 29, 9 + 8 * i, 33, i < 2 ? RGB(0, 220, 0) : kYellow, kGrey);
    p.Fill(4, 16, 42, 25, kNavy);                          // the display
    p.Line(7, 21, 13, 21, kYellow, 2);
    p.Line(16, 21, 22, 21, kYellow, 2);
    p.Line(46, 18, 52, 18, kGrey, 2);                      // the line to the station
    p.Line(52, 18, 56, 8, kBlue, 2);
    p.Line(56, 8, 60, 26, kBlue, 2);
    p.Line(60, 26, 64, 8, kBlue, 2);
    p.Line(64, 8, 68, 18, kBlue, 2);
    p.Line(68, 18, 72, 18, kGrey, 2);
    p.Frame(72, 10, 80, 28, RGB(255, 240, 200), kGrey);   // the station
    p.Fill(74, 13, 78, 15, kRed);
    p.Fill(74, 18, 78, 20, kGreen);
    p.Fill(74, 23, 78, 25, kGreen);
}

// The window's icon: a small modem picture on a blue square.
HICON MakeIcon(int size) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP color = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    if (!color || !mask) {
        if (color) DeleteObject(color);
        if (mask) DeleteObject(mask);
        return nullptr;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, color);
    const Pen96 p(dc, 0, 0, 96 * size / 16);  // drawn on a 16 x 16 grid
    p.Fill(0, 0, 16, 16, kNavy);
    p.Fill(1, 1, 15, 15, kBlue);
    p.Fill(3, 5, 13, 11, RGB(224, 224, 224));
    p.Fill(4, 6, 12, 8, kNavy);
    p.Fill(4, 9, 6, 10, RGB(0, 220, 0));
    p.Fill(7, 9, 9, 10, kYellow);
    p.Line(13, 7, 15, 7, kYellow);
    SelectObject(dc, old);
    DeleteDC(dc);
    // Opaque everywhere: alpha 255, and an all-zero mask.
    auto* px = static_cast<std::uint32_t*>(bits);
    for (int i = 0; i < size * size; ++i) px[i] |= 0xFF000000u;
    HDC mdc = CreateCompatibleDC(nullptr);
    HGDIOBJ mold = SelectObject(mdc, mask);
    PatBlt(mdc, 0, 0, size, size, BLACKNESS);
    SelectObject(mdc, mold);
    DeleteDC(mdc);
    ICONINFO ii{};
    ii.fIcon = TRUE;
    ii.hbmColor = color;
    ii.hbmMask = mask;
    HICON icon = CreateIconIndirect(&ii);
    DeleteObject(color);
    DeleteObject(mask);
    return icon;
}

// ---- The window -----------------------------------------------------------------------------

// Everything the window needs; the window owns it and frees it when it is destroyed.
struct ViewState {
    std::mutex Detach;  // guards Model and Lock: Done on another thread lets go of the model
    StatusWindow* Model = nullptr;
    std::mutex* Lock = nullptr;

    int Dpi = 96;
    HFONT Font = nullptr;
    HFONT EventFont = nullptr;
    HICON BigIcon = nullptr, SmallIcon = nullptr;
    HBRUSH WindowBrush = nullptr;
    HWND EventList = nullptr, LabelName = nullptr, LabelVersion = nullptr;
    std::array<HWND, kStatusLabelCount> Labels{};  // by the model's label index
    std::uint64_t ShownRevision = ~std::uint64_t{0};
    Shown Last;
    // Set once CreateWindowExW has returned the window: from then on the window frees the
    // state when it goes. Before that (a creation that fails after WM_NCCREATE still sends
    // WM_NCDESTROY) the creator keeps it.
    bool OwnedByWindow = false;

    ~ViewState() {
        if (Font) DeleteObject(Font);
        if (EventFont) DeleteObject(EventFont);
        if (BigIcon) DestroyIcon(BigIcon);
        if (SmallIcon) DestroyIcon(SmallIcon);
        if (WindowBrush) DeleteObject(WindowBrush);
    }

    int S(int v) const { return MulDiv(v, Dpi, 96); }
    RECT S(const RECT& r) const { return {S(r.left), S(r.top), S(r.right), S(r.bottom)}; }
};

ViewState* StateOf(HWND hwnd) { return reinterpret_cast<ViewState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

HFONT MakeFont(int height96, int dpi, const wchar_t* face) {
    return CreateFontW(-MulDiv(height96, dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, EASTEUROPE_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face);
}

HWND MakeChild(HWND parent, const wchar_t* cls, DWORD style, DWORD exStyle, const RECT& r, HFONT font) {
    HWND h = CreateWindowExW(exStyle, cls, L"", WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right - r.left,
                             r.bottom - r.top, parent, nullptr, reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                             nullptr);
    if (h && font) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return h;
}

void SetTextIfChanged(HWND h, const std::string& now, const std::string& before) {
    if (h && now != before) SetWindowTextW(h, Wide(now).c_str());
}

// A label as wide as its text (up to `right`, in the parent's client coordinates), like a
// label that sizes itself; what it no longer covers is painted again.
void SetLabel(HWND parent, HWND label, HFONT font, int right, const std::string& now, const std::string& before) {
    if (!label || now == before) return;
    const std::wstring text = Wide(now);
    SetWindowTextW(label, text.c_str());
    RECT old{};
    GetWindowRect(label, &old);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&old), 2);
    HDC dc = GetDC(label);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, oldFont);
    ReleaseDC(label, dc);
    const int width = std::max(1, std::min<int>(size.cx + 1, right - old.left));
    SetWindowPos(label, nullptr, 0, 0, width, old.bottom - old.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(parent, &old, TRUE);
}

// Copies what changed in the model to the window. The lock is held only while copying.
void Refresh(HWND hwnd, ViewState& st, bool force) {
    Shown now;
    {
        std::lock_guard detach(st.Detach);
        if (!st.Model) return;
        const std::uint64_t revision = st.Model->Revision.load();
        if (revision == st.ShownRevision && !force) return;
        std::lock_guard lock(*st.Lock);
        const StatusWindow& m = *st.Model;
        st.ShownRevision = m.Revision.load();
        now.Caption = m.Caption;
        now.LabelName = m.LabelName;
        now.LabelVersion = m.LabelVersion;
        for (const std::string& line : m.EventList) {
            if (!now.Events.empty()) now.Events += "\r\n";
            now.Events += line;
        }
        now.Labels = m.Labels;
    }
    SetTextIfChanged(hwnd, now.Caption, st.Last.Caption);
    // The identity labels may run under the picture at the top right; the status lines end at
    // the group box's frame.
    const int formRight = st.S(kClientWidth) - st.S(kLabelName.x);
    SetLabel(hwnd, st.LabelName, st.Font, formRight, now.LabelName, st.Last.LabelName);
    SetLabel(hwnd, st.LabelVersion, st.Font, formRight, now.LabelVersion, st.Last.LabelVersion);
    for (std::size_t i = 0; i < kStatusLabelCount; ++i)
        SetLabel(hwnd, st.Labels[i], st.Font, st.S(kGroupBox.right) - 2, now.Labels[i], st.Last.Labels[i]);
    if (now.Events != st.Last.Events && st.EventList) {
        SetWindowTextW(st.EventList, Wide(now.Events).c_str());
        // The newest line in sight, as after adding it at the end.
        const LRESULT end = SendMessageW(st.EventList, WM_GETTEXTLENGTH, 0, 0);
        SendMessageW(st.EventList, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessageW(st.EventList, EM_SCROLLCARET, 0, 0);
    }
    st.Last = std::move(now);
}

bool ReadPlacement(ViewState& st, Placement& out) {
    std::lock_guard detach(st.Detach);
    if (!st.Model) return false;
    std::lock_guard lock(*st.Lock);
    const StatusWindow& m = *st.Model;
    out.Visible = m.Visible;
    out.Minimised = m.Minimised;
    out.Enabled = m.Enabled;
    out.Bounds = {m.Left, m.Top, m.Left + m.Width, m.Top + m.Height};
    return true;
}

// A host request, on the window's thread.
void Act(HWND hwnd, ViewState& st, std::uint32_t code) {
    Placement p;
    if (!ReadPlacement(st, p)) return;
    switch (code) {
        case 0:
            ShowWindow(hwnd, SW_HIDE);
            break;
        case 1:
            Refresh(hwnd, st, false);
            ShowWindow(hwnd, p.Minimised ? SW_SHOWMINNOACTIVE : SW_SHOW);
            break;
        case 2:
            if (IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_MINIMIZE);
            break;
        case 3:
            if (IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_RESTORE);
            break;
        case 4:
            if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
                SetForegroundWindow(hwnd);
                SetFocus(hwnd);
            }
            break;
        case 5:
            if (IsIconic(hwnd)) {
                WINDOWPLACEMENT wp{};
                wp.length = sizeof wp;
                GetWindowPlacement(hwnd, &wp);
                wp.rcNormalPosition = p.Bounds;
                SetWindowPlacement(hwnd, &wp);
            } else {
                SetWindowPos(hwnd, nullptr, p.Bounds.left, p.Bounds.top, p.Bounds.right - p.Bounds.left,
                             p.Bounds.bottom - p.Bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
            }
            break;
        case 6:
            EnableWindow(hwnd, p.Enabled);
            break;
        default:
            break;
    }
}

void Paint(HWND hwnd, ViewState& st) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    DrawImage1(Pen96(dc, st.S(kImage1.left), st.S(kImage1.top), st.Dpi));

    // The group box: an etched frame whose top line runs through the middle of the caption.
    HGDIOBJ oldFont = SelectObject(dc, st.Font);
    const std::wstring caption = Wide(text::kFormGroupBox);
    SIZE ts{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &ts);
    const RECT g = st.S(kGroupBox);
    RECT frame = {g.left, g.top + ts.cy / 2, g.right, g.bottom};
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    const RECT behind = {g.left + st.S(8) - 2, g.top, g.left + st.S(8) + ts.cx + 2, g.top + ts.cy};
    FillRect(dc, &behind, GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    TextOutW(dc, g.left + st.S(8), g.top, caption.c_str(), static_cast<int>(caption.size()));
    SelectObject(dc, oldFont);

    // The pictures of the six status lines, one pixel below their label's row.
    for (std::size_t row = 0; row < kStatusRows.size(); ++row)
        DrawStatusPicture(Pen96(dc, g.left + st.S(kStatusPictureX), g.top + st.S(kStatusRows[row] + 1), st.Dpi),
                          kRowLabel[row]);
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    ViewState* st = StateOf(hwnd);
    if (!st) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_CLOSE:
            return 0;  // only the host hides the window; nobody closes it
        case WM_SYSCOMMAND:
            if ((wp & 0xFFF0) == SC_CLOSE) return 0;
            break;
        case WM_TIMER:
            if (wp == kRefreshTimer) {
                Refresh(hwnd, *st, false);
                return 0;
            }
            break;
        case WM_PAINT:
            Paint(hwnd, *st);
            return 0;
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wp);
            if (reinterpret_cast<HWND>(lp) == st->EventList) {  // the read-only list: black on white
                SetTextColor(dc, RGB(0, 0, 0));
                SetBkColor(dc, GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(st->WindowBrush);
            }
            SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case kApplyMessage:
            Act(hwnd, *st, static_cast<std::uint32_t>(wp));
            return 0;
        case kDestroyMessage:
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            KillTimer(hwnd, kRefreshTimer);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            if (st->OwnedByWindow) delete st;
            return DefWindowProcW(hwnd, msg, wp, lp);
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&WindowProc), &module);
    return module;
}

class Win32StatusView final : public StatusView {
public:
    Win32StatusView(HWND hwnd, ViewState* state, std::wstring className, HINSTANCE module)
        : hwnd_(hwnd), state_(state), className_(std::move(className)), module_(module),
          thread_(GetCurrentThreadId()) {}

    ~Win32StatusView() override {
        if (GetCurrentThreadId() == thread_) {
            DestroyWindow(hwnd_);  // frees the state
            UnregisterClassW(className_.c_str(), module_);
            return;
        }
        // Another thread: the window stops reading the model now and goes when its thread
        // next looks at its messages (the class stays registered; its name is not reused).
        {
            std::lock_guard detach(state_->Detach);
            state_->Model = nullptr;
            state_->Lock = nullptr;
        }
        PostMessageW(hwnd_, kDestroyMessage, 0, 0);
    }

    void Apply(std::uint32_t code) override {
        if (code > 6) return;
        if (GetCurrentThreadId() == thread_) Act(hwnd_, *state_, code);
        else PostMessageW(hwnd_, kApplyMessage, code, 0);  // never wait for the window's thread
    }

    void* Handle() const override { return hwnd_; }

private:
    HWND hwnd_;
    ViewState* state_;  // owned by the window
    std::wstring className_;
    HINSTANCE module_;
    DWORD thread_;
};

}  // namespace

std::unique_ptr<StatusView> StatusView::Create(StatusWindow& model, std::mutex& lock, std::string* failure) {
    HINSTANCE module = ThisModule();
    auto owner = std::make_unique<ViewState>();  // the creator's until the window exists
    ViewState* st = owner.get();
    st->Model = &model;
    st->Lock = &lock;
    HDC screen = GetDC(nullptr);
    st->Dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    if (st->Dpi <= 0) st->Dpi = 96;
    st->Font = MakeFont(10, st->Dpi, L"MS Sans Serif");
    st->EventFont = MakeFont(9, st->Dpi, L"Small Fonts");
    st->WindowBrush = CreateSolidBrush(GetSysColor(COLOR_WINDOW));
    st->BigIcon = MakeIcon(GetSystemMetrics(SM_CXICON) > 0 ? GetSystemMetrics(SM_CXICON) : 32);
    st->SmallIcon = MakeIcon(GetSystemMetrics(SM_CXSMICON) > 0 ? GetSystemMetrics(SM_CXSMICON) : 16);

    // A class of this window's own, so that two instances (or two loads of the library) never
    // share a window procedure.
    LARGE_INTEGER stamp{};
    QueryPerformanceCounter(&stamp);
    const std::wstring className = L"ZkDrvStatus_" + std::to_wstring(reinterpret_cast<std::uintptr_t>(st)) + L"_" +
                                   std::to_wstring(static_cast<unsigned long>(stamp.LowPart));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = module;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = st->BigIcon;
    wc.hIconSm = st->SmallIcon;
    wc.lpszClassName = className.c_str();
    if (!RegisterClassExW(&wc)) {
        if (failure) *failure = SystemErrorText(static_cast<int>(GetLastError()));
        return nullptr;
    }

    // Single fixed border, caption, system menu and minimise button; the client area as the
    // form gives it, centred on the screen.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    const DWORD exStyle = 0;
    RECT outer = {0, 0, st->S(kClientWidth), st->S(kClientHeight)};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    HWND hwnd = CreateWindowExW(exStyle, className.c_str(), L"", style, x, y, width, height, nullptr, nullptr, module, st);
    if (!hwnd) {
        // No window (no desktop for this process, the desktop heap used up, ...): a window
        // procedure that saw WM_NCCREATE has let go of the state again; the creator frees it.
        if (failure) *failure = SystemErrorText(static_cast<int>(GetLastError()));
        UnregisterClassW(className.c_str(), module);
        return nullptr;
    }
    st->OwnedByWindow = true;
    owner.release();
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(st->BigIcon));
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(st->SmallIcon));

    // The children: identity labels, the event list, and the six status lines in the group box.
    const DWORD labelStyle = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    st->LabelName = MakeChild(hwnd, L"STATIC", labelStyle, 0,
                              st->S(RECT{kLabelName.x, kLabelName.y, kImage1.left - 2, kLabelName.y + kLabelHeight}),
                              st->Font);
    st->LabelVersion = MakeChild(
        hwnd, L"STATIC", labelStyle, 0,
        st->S(RECT{kLabelVersion.x, kLabelVersion.y, kImage1.left - 2, kLabelVersion.y + kLabelHeight}), st->Font);
    st->EventList = MakeChild(hwnd, L"EDIT", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, WS_EX_CLIENTEDGE,
                              st->S(kEventList), st->EventFont);
    for (std::size_t row = 0; row < kStatusRows.size(); ++row) {
        const RECT r = {kGroupBox.left + kStatusLabelX, kGroupBox.top + kStatusRows[row], kGroupBox.right - 4,
                        kGroupBox.top + kStatusRows[row] + kLabelHeight};
        st->Labels[static_cast<std::size_t>(kRowLabel[row])] = MakeChild(hwnd, L"STATIC", labelStyle, 0, st->S(r), st->Font);
    }
    Refresh(hwnd, *st, true);
    SetTimer(hwnd, kRefreshTimer, kRefreshMs, nullptr);
    return std::make_unique<Win32StatusView>(hwnd, st, className, module);
}

}  // namespace zk
