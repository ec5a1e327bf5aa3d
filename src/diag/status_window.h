// The status window of an instance as a model: identity labels, the event list of the newest
// twelve lines, six status lines and the window state the host controls. A view (the Win32
// dialog, the terminal of zkhost) draws it; every access holds the instance's lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace zk {

struct DriverRecord;

// The six status lines, in the order of the driver record's label references.
enum StatusLabel : int { LabelIdle = 0, LabelTransmit, LabelPacket, LabelPRN, LabelCOM, LabelMem, kStatusLabelCount };

inline constexpr std::size_t kEventListLines = 12;

struct StatusWindow {
    DriverRecord* Driver = nullptr;
    std::string Caption;
    std::string LabelName;
    std::string LabelVersion;
    std::deque<std::string> EventList;
    std::array<std::string, kStatusLabelCount> Labels;
    bool Visible = false;
    bool Minimised = false;
    bool Focused = false;
    bool Enabled = true;
    std::int32_t Left = 0, Top = 0, Width = 337, Height = 301;
    // Bumped (under the lock) by every change, so that a view knows when to redraw; a view may
    // look at it without the lock.
    std::atomic<std::uint64_t> Revision{0};
};

// A window with the form's initial texts.
void InitStatusWindow(StatusWindow& w);

// Adds a line to the event list: nothing without a list; the oldest line goes when twelve are
// already shown; the text is cut to 255 characters.
void AddEventLine(StatusWindow* w, std::string_view text);

// The window as text for a host that draws it itself (DriverProc code kStatusTextCode), one
// line per item, each starting with its tag and a blank: "R" the revision, "C" the caption,
// "N" and "V" the identity lines, "E" each event line (oldest first), "L" the six status lines
// in StatusLabel order. Backslash, CR and LF inside a text are written as \\, \r and \n.
// Code page 1250, as the window holds it.
std::string StatusWindowText(const StatusWindow& w);

// The DriverProc code that copies StatusWindowText into the host's buffer: p1 and p2 the low
// and high 32 bits of the buffer's address, p3 its size in bytes (the text is cut to fit and
// always ends with a NUL).
inline constexpr std::uint32_t kStatusTextCode = 100;

}  // namespace zk
