// The serial component over real pseudo-terminals: bytes both ways, the line settings the
// terminal ends up with, the property rules, closing under a running write, a device that
// vanishes, exclusive use and the event thread.
#include "line/serial.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "line/serial_posix.h"
#include "line/serial_speed.h"
#include "pty.h"
#include "support/temp_dir.h"

using namespace zk;
using zktest::Eventually;
using zktest::Pty;

namespace {

struct Opened {
    Pty pty;
    TSerial port;
    explicit Opened(eDataBits bits = eDataBits::d8bit) {
        port.SetDeviceName(pty.name());
        port.SetDataBits(bits);
        port.SetActive(true);
    }
};

// Reads through ReadByte until `count` bytes have come (or a safety limit passed).
std::string ReadThroughPort(TSerial& port, std::size_t count) {
    std::string got;
    Eventually([&] {
        std::uint8_t b = 0;
        while (port.RxWaiting() > 0 && port.ReadByte(b) == 1) got.push_back(static_cast<char>(b));
        return got.size() >= count;
    });
    return got;
}

// Bytes waiting at the far end.
int MasterHolds(const Pty& pty) {
    int n = 0;
    ::ioctl(pty.master(), FIONREAD, &n);
    return n;
}

}  // namespace

TEST(SerialTimeouts, WriteTimeoutScalesWithLengthAndRateAndHasAFloor) {
    struct Case {
        std::size_t length;
        std::int32_t rate;
        std::uint32_t ms;
    } cases[] = {{100, 9600, 500}, {300, 9600, 600}, {100, 1200, 1600}, {100, 19200, 500}, {100, 256000, 500},
                 {1, 110, 500},    {100, 110, 18100}, {0, 9600, 500}};
    for (const auto& c : cases) EXPECT_EQ(WriteTimeoutMs(c.length, c.rate), c.ms) << c.length << " at " << c.rate;
}

TEST(SerialProperties, DefaultsAndTheRateTable) {
    TSerial port;
    EXPECT_EQ(port.Port(), 1);
    EXPECT_EQ(port.Baudrate(), 9600);
    EXPECT_EQ(port.Parity(), eParity::paNone);
    EXPECT_EQ(port.DataBits(), eDataBits::d7bit);
    EXPECT_EQ(port.StopBits(), eStopBits::st1bit);
    EXPECT_EQ(port.RxQueueSize(), 1024);
    EXPECT_EQ(port.TxQueueSize(), 1024);
    EXPECT_EQ(port.FlowMode(), eFlowControl::fcNone);
    EXPECT_TRUE(port.CheckParity());
    EXPECT_EQ(port.NotifyErrors.load(), eNotifyErr::neDialog);
    EXPECT_EQ(port.ErrorCode(), 0);
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.EffectiveDeviceName(), "/dev/ttyS0");
    for (const std::int32_t rate : kBaudRates) {
        port.SetBaudrate(rate);
        EXPECT_EQ(port.Baudrate(), rate);
    }
    for (const std::int32_t rate : {0, -9600, 9601, 14401, 230400, 1000000}) {
        port.SetBaudrate(rate);
        EXPECT_EQ(port.Baudrate(), 256000) << rate;
    }
}

TEST(SerialProperties, ClosedPortCountsNothingAndStaysClosedOnChanges) {
    TSerial port;
    EXPECT_EQ(port.RxWaiting(), 0);
    EXPECT_EQ(port.TxWaiting(), 0);
    std::uint8_t b = 7;
    EXPECT_EQ(port.ReadByte(b), 0);
    EXPECT_EQ(b, 7);
    port.WriteString("nothing");
    port.AbortRead();
    port.AbortWrite();
    port.SetParity(eParity::paEven);
    port.SetRxQueueSize(2048);
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.Generation(), 0u);
    EXPECT_EQ(port.ErrorCode(), 0);
}

TEST(SerialOpen, ADeviceThatDoesNotOpenLeavesThePortClosedWithTheError) {
    zktest::TempDir dir;
    const std::string regular = dir.file("not-a-tty");
    zktest::WriteFile(regular, "x");
    for (const std::string& device : {std::string("/nonexistent/tty"), regular, dir.path()}) {
        TSerial port;
        port.SetDeviceName(device);
        port.SetActive(true);
        EXPECT_FALSE(port.Active()) << device;
        EXPECT_NE(port.ErrorCode(), 0) << device;
    }
}

TEST(SerialIo, EveryByteValueGoesOutUnchanged) {
    for (const eFlowControl flow : {eFlowControl::fcNone, eFlowControl::fcRTS_CTS}) {
        Opened o;
        o.port.SetFlowMode(flow);
        ASSERT_TRUE(o.port.Active());
        const std::string bytes = zktest::AllByteValues();
        o.port.WriteString(bytes);
        EXPECT_EQ(o.pty.Receive(bytes.size()), bytes);
    }
}

TEST(SerialIo, EveryByteValueComesInUnchangedThroughReadByte) {
    for (const eDataBits bits : {eDataBits::d8bit, eDataBits::d7bit}) {
        Opened o(bits);
        ASSERT_TRUE(o.port.Active());
        std::uint8_t b = 0;
        EXPECT_EQ(o.port.ReadByte(b), 0);  // nothing buffered: back at once with nothing
        const std::string bytes = zktest::AllByteValues();
        o.pty.Send(bytes);
        // A pty does not strip the eighth bit, so seven data bits still deliver every value.
        EXPECT_EQ(ReadThroughPort(o.port, bytes.size()), bytes);
        EXPECT_EQ(o.port.RxWaiting(), 0);
        EXPECT_EQ(o.port.ReadByte(b), 0);
    }
}

TEST(SerialIo, AbortsKeepWhatIsBuffered) {
    Opened o;
    o.pty.Send("ABC");
    ASSERT_TRUE(Eventually([&] { return o.port.RxWaiting() == 3; }));
    std::uint8_t b = 0;
    ASSERT_EQ(o.port.ReadByte(b), 1);
    o.port.AbortRead();
    o.port.AbortWrite();
    EXPECT_EQ(o.port.RxWaiting(), 2);
    EXPECT_EQ(ReadThroughPort(o.port, 2), "BC");
    o.port.WriteString("after");
    EXPECT_EQ(o.pty.Receive(5), "after");
}

namespace {
struct LineCase {
    std::int32_t rate;
    eDataBits bits;
    eParity parity;
    eStopBits stop;
    eFlowControl flow;
    bool checkParity;
};

tcflag_t ParityBits(eParity p) {
    switch (p) {
        case eParity::paNone: return 0;
        case eParity::PaOdd: return PARENB | PARODD;
        case eParity::paEven: return PARENB;
        case eParity::paMark: return PARENB | PARODD | CMSPAR;
        case eParity::paSpace: return PARENB | CMSPAR;
    }
    return 0;
}
}  // namespace

TEST(SerialSettings, TheTerminalHoldsTheRawLineThePropertiesDescribe) {
    const LineCase cases[] = {
        {9600, eDataBits::d8bit, eParity::paNone, eStopBits::st1bit, eFlowControl::fcRTS_CTS, true},
        {110, eDataBits::d7bit, eParity::paEven, eStopBits::st2bit, eFlowControl::fcNone, true},
        {115200, eDataBits::d8bit, eParity::PaOdd, eStopBits::st1bit, eFlowControl::fcNone, false},
        {1200, eDataBits::d7bit, eParity::paMark, eStopBits::st1bit, eFlowControl::fcXON_XOF, true},
        {57600, eDataBits::d8bit, eParity::paSpace, eStopBits::st2bit, eFlowControl::fcDTR_DSR, true},
        {14400, eDataBits::d8bit, eParity::paNone, eStopBits::st1bit, eFlowControl::fcNone, true},
        {56000, eDataBits::d8bit, eParity::paNone, eStopBits::st1bit, eFlowControl::fcNone, true},
        {128000, eDataBits::d8bit, eParity::paEven, eStopBits::st1bit, eFlowControl::fcNone, true},
        {256000, eDataBits::d7bit, eParity::paNone, eStopBits::st2bit, eFlowControl::fcRTS_CTS, true},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.rate);
        Pty pty;
        TSerial port;
        port.SetDeviceName(pty.name());
        port.SetBaudrate(c.rate);
        port.SetDataBits(c.bits);
        port.SetParity(c.parity);
        port.SetStopBits(c.stop);
        port.SetFlowMode(c.flow);
        port.SetCheckParity(c.checkParity);
        port.SetActive(true);
        ASSERT_TRUE(port.Active());
        // The terminal as the port left it. A pseudo-terminal keeps eight data bits and no parity
        // whatever it is asked; the termios the port builds shows those two.
        const termios t = pty.Attributes();
        termios built{};
        BuildTermios(built, port.Settings());
        EXPECT_EQ(built.c_cflag & CSIZE, c.bits == eDataBits::d8bit ? CS8 : CS7);
        EXPECT_EQ(built.c_cflag & (PARENB | PARODD | CMSPAR), ParityBits(c.parity));
        EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), ParityBits(c.parity) & (PARODD | CMSPAR));
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stop == eStopBits::st2bit);
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.flow == eFlowControl::fcRTS_CTS);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.flow == eFlowControl::fcXON_XOF ? (IXON | IXOFF) : 0u);
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.checkParity && c.parity != eParity::paNone);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | HUPCL), CLOCAL | CREAD | HUPCL);
        EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXANY | BRKINT | PARMRK | IGNBRK), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        EXPECT_EQ(LineSpeed(pty.master()), c.rate);
    }
}

TEST(SerialSettings, AChangedPropertyReopensAndAnUnchangedOneDoesNot) {
    Opened o;
    ASSERT_TRUE(o.port.Active());
    std::uint64_t generation = o.port.Generation();
    struct Step {
        const char* what;
        std::function<void(TSerial&)> change;
        bool reopens;
    } steps[] = {
        {"same parity", [](TSerial& p) { p.SetParity(eParity::paNone); }, false},
        {"rate outside the table", [](TSerial& p) { p.SetBaudrate(9601); }, false},
        {"same rate", [](TSerial& p) { p.SetBaudrate(9600); }, false},
        {"same data bits", [](TSerial& p) { p.SetDataBits(eDataBits::d8bit); }, false},
        {"same input queue size", [](TSerial& p) { p.SetRxQueueSize(1024); }, true},
        {"same output queue size", [](TSerial& p) { p.SetTxQueueSize(1024); }, true},
        {"parity", [](TSerial& p) { p.SetParity(eParity::PaOdd); }, true},
        {"parity again", [](TSerial& p) { p.SetParity(eParity::paEven); }, true},
        {"rate", [](TSerial& p) { p.SetBaudrate(2400); }, true},
        {"stop bits", [](TSerial& p) { p.SetStopBits(eStopBits::st2bit); }, true},
        {"flow", [](TSerial& p) { p.SetFlowMode(eFlowControl::fcRTS_CTS); }, true},
        {"parity check", [](TSerial& p) { p.SetCheckParity(false); }, true},
    };
    for (const Step& s : steps) {
        s.change(o.port);
        EXPECT_TRUE(o.port.Active()) << s.what;
        EXPECT_EQ(o.port.Generation(), generation + (s.reopens ? 1 : 0)) << s.what;
        generation = o.port.Generation();
    }
    const termios t = o.pty.Attributes();
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), 0u);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & INPCK, 0u);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B2400));
    // The reopened port still carries bytes.
    o.port.WriteString("ok");
    EXPECT_EQ(o.pty.Receive(2), "ok");
}

TEST(SerialOpen, APortHeldByAnotherInstanceDoesNotOpenUntilItIsFreed) {
    Pty pty;
    TSerial first, second;
    first.SetDeviceName(pty.name());
    second.SetDeviceName(pty.name());
    first.SetActive(true);
    ASSERT_TRUE(first.Active());
    second.SetActive(true);
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(second.ErrorCode(), EBUSY);
    // The failed attempt took nothing from the holder.
    first.WriteString("held");
    EXPECT_EQ(pty.Receive(4), "held");
    first.SetActive(false);
    second.SetActive(true);
    EXPECT_TRUE(second.Active()) << second.ErrorCode();
}

TEST(SerialClose, ClosingEndsAWriteInProgressOnAnotherThread) {
    Pty pty;  // the far end reads nothing, so the terminal's buffers fill up
    TSerial port;
    port.SetDeviceName(pty.name());
    port.SetBaudrate(110);  // a write of this size may take hours before it times out
    port.SetActive(true);
    ASSERT_TRUE(port.Active());
    const std::string big(1 << 20, 'x');
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        port.WriteString(big);
        returned = true;
    });
    // The far end holds what fitted; the rest of the write waits for room.
    EXPECT_TRUE(Eventually([&] { return MasterHolds(pty) > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    port.SetActive(false);  // returns only after the writer has let go of the port
    worker.join();
    EXPECT_TRUE(returned.load());
    EXPECT_FALSE(port.Active());
}

TEST(SerialClose, AbortWriteEndsAWriteInProgressOnAnotherThread) {
    Pty pty;
    TSerial port;
    port.SetDeviceName(pty.name());
    port.SetBaudrate(110);
    port.SetActive(true);
    const std::string big(1 << 20, 'x');
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        port.WriteString(big);
        returned = true;
    });
    EXPECT_TRUE(Eventually([&] { return MasterHolds(pty) > 0; }));
    // Repeated, since the abort may land before the writer has started waiting.
    EXPECT_TRUE(Eventually([&] {
        port.AbortWrite();
        return returned.load();
    }));
    worker.join();
    EXPECT_TRUE(port.Active());
    EXPECT_NE(port.ErrorCode(), ETIMEDOUT);  // an aborted write is no time-out
}

TEST(SerialFaults, ADeviceThatVanishesIsSurvivedAndALaterOpenTakesTheNewOne) {
    zktest::TempDir dir;
    const std::string link = dir.file("modem");
    auto first = std::make_unique<Pty>();
    std::filesystem::create_symlink(first->name(), link);
    TSerial port;
    port.SetDeviceName(link);
    port.SetActive(true);
    ASSERT_TRUE(port.Active());

    first->CloseMaster();  // the device is gone
    std::uint8_t b = 0;
    EXPECT_EQ(port.ReadByte(b), 0);
    EXPECT_EQ(port.RxWaiting(), 0);
    port.WriteString("into the void");  // abandoned, with the error recorded
    EXPECT_NE(port.ErrorCode(), 0);
    port.TxWaiting();
    port.AbortRead();
    port.AbortWrite();

    Pty second;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.name(), link);
    port.SetActive(true);
    ASSERT_TRUE(port.Active());
    port.WriteString("back");
    EXPECT_EQ(second.Receive(4), "back");
    second.Send("R");
    EXPECT_EQ(ReadThroughPort(port, 1), "R");
    first.reset();
}

TEST(SerialFaults, AHangUpIsOneLossOfItsOpenRaisedOnceAndOnlyThatOpenIsClosedForIt) {
    zktest::TempDir dir;
    const std::string link = dir.file("modem");
    auto first = std::make_unique<Pty>();
    std::filesystem::create_symlink(first->name(), link);
    TSerial port;
    std::atomic<int> raised{0};
    port.OnLost = [&](TSerial&) { ++raised; };
    port.SetDeviceName(link);
    port.SetActive(true);
    ASSERT_TRUE(port.Active());
    std::int32_t error = 0;
    std::uint64_t generation = 0;
    EXPECT_FALSE(port.TakeLoss(error, generation));
    EXPECT_FALSE(port.Lost());

    // The event thread sees the hang-up by itself; the calls that fail afterwards add nothing.
    first->CloseMaster();
    EXPECT_TRUE(Eventually([&] { return raised.load() == 1; }));
    EXPECT_TRUE(port.Lost());
    port.WriteString("into the void");
    std::uint8_t b = 0;
    port.ReadByte(b);
    port.RxWaiting();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(raised.load(), 1);
    ASSERT_TRUE(port.TakeLoss(error, generation));
    EXPECT_EQ(error, EIO);
    EXPECT_EQ(generation, port.Generation());
    EXPECT_FALSE(port.TakeLoss(error, generation)) << "handed out once";
    EXPECT_TRUE(port.Active()) << "the owner closes the port";

    // A newer open is not closed for the loss of an older one.
    Pty second;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.name(), link);
    port.SetActive(true);
    ASSERT_TRUE(port.Active());
    EXPECT_FALSE(port.Lost());
    port.CloseLost(generation);
    EXPECT_TRUE(port.Active());
    port.WriteString("back");
    EXPECT_EQ(second.Receive(4), "back");
    second.Send("R");
    EXPECT_EQ(ReadThroughPort(port, 1), "R");
    EXPECT_EQ(raised.load(), 1);
    port.CloseLost(port.Generation());
    EXPECT_FALSE(port.Active());
}

TEST(SerialErrors, HandleErrorRecordsAndRaisesOnErrorOnlyWhenAskedTo) {
    TSerial port;
    int raised = 0;
    port.OnError = [&](TSerial& p) {
        ++raised;
        EXPECT_EQ(p.ErrorCode(), 42);
    };
    for (const eNotifyErr mode : {eNotifyErr::neDialog, eNotifyErr::neNone, eNotifyErr::neEvent}) {
        port.NotifyErrors = mode;
        port.HandleError(42);
        EXPECT_EQ(port.ErrorCode(), 42);
    }
    EXPECT_EQ(raised, 1);
}

namespace {
// Collects what the event thread delivers.
struct Deliveries {
    std::mutex lock;
    std::vector<std::string> messages;
    int rxData = 0;
    void Message(std::string_view m) {
        std::lock_guard g(lock);
        messages.emplace_back(m);
    }
    std::size_t count() {
        std::lock_guard g(lock);
        return messages.size();
    }
};
}  // namespace

TEST(SerialEvents, ReceivedCharactersRaiseOnRxData) {
    Pty pty;
    TSerial port;
    std::atomic<int> raised{0};
    port.OnRxData = [&](TSerial&) { ++raised; };
    port.SetDeviceName(pty.name());
    port.SetActive(true);
    ASSERT_TRUE(Eventually([&] { return port.EventThreadWaiting(); }));
    pty.Send("x");
    EXPECT_TRUE(Eventually([&] { return raised.load() > 0; }));
    port.SetActive(false);  // the event thread is waiting: the close still returns
    EXPECT_FALSE(port.EventThreadWaiting());
}

TEST(SerialEvents, MessageModeAssemblesMessagesBetweenStartAndEnd) {
    struct Case {
        std::uint16_t append;
        std::string input;
        std::vector<std::string> expected;
    } cases[] = {
        {0, "junk\x02" "AB\x03tail\x02" "C\x03", {"\x02" "AB\x03", "\x02" "C\x03"}},
        {2, "\x02" "AB\x03XY\x02" "Z\x03\x02\x03", {"\x02" "AB\x03XY", "\x02" "Z\x03\x02\x03"}},
        {0, "\x02" "A\x02" "B\x03", {"\x02" "B\x03"}},
    };
    for (const Case& c : cases) {
        Pty pty;
        TSerial port;
        Deliveries d;
        port.RxEventMode = eOpModes::rxMessage;
        port.MessageAppendCount = c.append;
        port.OnMessage = [&](TSerial&, std::string_view m) { d.Message(m); };
        port.SetDeviceName(pty.name());
        port.SetActive(true);
        ASSERT_TRUE(port.Active());
        pty.Send(c.input);
        EXPECT_TRUE(Eventually([&] { return d.count() >= c.expected.size(); }));
        port.SetActive(false);
        std::lock_guard g(d.lock);
        EXPECT_EQ(d.messages, c.expected);
    }
}

TEST(SerialLines, APortWithoutModemLinesReportsNoCarrierStateAndStaysUsable) {
    // A pseudo-terminal has no DCD: the carrier is unknown, never "down", so that a call over
    // it is not taken for a dropped one; a closed port knows nothing either.
    Opened o;
    ASSERT_TRUE(o.port.Active());
    EXPECT_EQ(o.port.Carrier(), CarrierLine::Unknown);
    o.pty.Send("x");
    EXPECT_EQ(ReadThroughPort(o.port, 1), "x");
    EXPECT_FALSE(o.port.Lost());
    o.port.SetActive(false);
    EXPECT_EQ(o.port.Carrier(), CarrierLine::Unknown);
}
