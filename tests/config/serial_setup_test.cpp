// Setting the port up from the [COM] settings, and Init's way with a port that opens and one
// that does not.
#include "worker/line_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "base/cp1250.h"
#include "diag/status_window.h"
#include "host/instance.h"
#include "line/serial.h"
#include "line/serial_posix.h"
#include "line/serial_speed.h"
#include "line/pty.h"
#include "support/par_files.h"
#include "support/temp_dir.h"

using namespace zk;
using zktest::Pty;

namespace {

struct Instance {
    DriverRecord* rec = MakeDriver();
    Instance() { rec->Window = std::make_unique<StatusWindow>(); }
    ~Instance() {
        Done(*rec);
        DisposeDriver(rec);
    }
    DriverContext& ctx() { return *rec->Context; }
    TSerial& port() { return *rec->SerialPort; }
    // The event list as it stands; the worker may be adding to it, so under the lock.
    std::vector<std::string> events() const {
        std::lock_guard lock(rec->Context->Lock);
        std::vector<std::string> out;
        for (const auto& line : rec->Window->EventList) out.push_back(Cp1250ToUtf8(line));
        return out;
    }
    void Com(const std::string& device, std::uint16_t port, std::uint16_t baud, std::uint16_t bits,
             std::uint16_t parity, std::uint16_t stop, std::uint16_t buffer) {
        DriverContext& c = ctx();
        c.Com.DEVICE.assign(device);
        c.Com.ComPort = port;
        c.Com.BaudRate = baud;
        c.Com.DataBits = bits;
        c.Com.Parity = parity;
        c.Com.StopBits = stop;
        c.Com.BUFFER_SIZE = buffer;
    }
};

}  // namespace

TEST(SerialSetup, TheComSettingsReachThePortAndTheLineStartsClean) {
    struct Case {
        std::uint16_t port, baud, bits, parity, stop, buffer;
        eDataBits dataBits;
        eParity portParity;
        eStopBits stopBits;
        std::int32_t rate;
    } cases[] = {
        {2, 9600, 8, 0, 1, 1024, eDataBits::d8bit, eParity::paNone, eStopBits::st1bit, 9600},
        {1, 19200, 7, 1, 2, 2048, eDataBits::d7bit, eParity::paEven, eStopBits::st2bit, 19200},
        {3, 1200, 9, 2, 0, 512, eDataBits::d7bit, eParity::PaOdd, eStopBits::st2bit, 1200},
        {4, 2400, 8, 3, 1, 100, eDataBits::d8bit, eParity::paMark, eStopBits::st1bit, 2400},
        {5, 4800, 8, 4, 1, 100, eDataBits::d8bit, eParity::paSpace, eStopBits::st1bit, 4800},
        {6, 9601, 8, 7, 1, 100, eDataBits::d8bit, eParity::paNone, eStopBits::st1bit, 9600},  // both ignored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        Pty pty;
        Instance inst;
        inst.Com(pty.name(), c.port, c.baud, c.bits, c.parity, c.stop, c.buffer);
        inst.ctx().Scheduler.TxState = zk::TxState::AckSent;
        inst.ctx().Scheduler.LineCode = 7;
        inst.ctx().AnsweredCall = true;
        inst.ctx().SinceAnswer = 12.0;
        inst.ctx().Framing.RxFrame.assign("half");
        inst.ctx().Framing.PrefixWindow.assign("x");
        SetupSerialPort(*inst.rec);

        TSerial& p = inst.port();
        ASSERT_TRUE(p.Active());
        EXPECT_EQ(p.Port(), c.port);
        EXPECT_EQ(p.Baudrate(), c.rate);
        EXPECT_EQ(p.DataBits(), c.dataBits);
        EXPECT_EQ(p.Parity(), c.portParity);
        EXPECT_EQ(p.StopBits(), c.stopBits);
        EXPECT_EQ(p.RxQueueSize(), c.buffer);
        EXPECT_EQ(p.TxQueueSize(), c.buffer);
        EXPECT_EQ(p.FlowMode(), eFlowControl::fcRTS_CTS);
        EXPECT_TRUE(p.CheckParity());
        EXPECT_EQ(p.NotifyErrors.load(), eNotifyErr::neNone);

        const termios t = pty.Attributes();
        EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stopBits == eStopBits::st2bit);
        EXPECT_EQ(LineSpeed(pty.master()), c.rate);

        const auto events = inst.events();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back(), "Inicializace portu: COM" + std::to_string(c.port) + " " + std::to_string(c.rate) + "Bd");

        EXPECT_EQ(inst.ctx().Scheduler.TxState.load(), zk::TxState::Choose);
        EXPECT_EQ(inst.ctx().Scheduler.LineCode, 222);
        EXPECT_FALSE(inst.ctx().AnsweredCall);
        EXPECT_EQ(inst.ctx().SinceAnswer.load(), 0.0);
        EXPECT_TRUE(inst.ctx().Framing.RxFrame.empty());
        EXPECT_TRUE(inst.ctx().Framing.PrefixWindow.empty());

        // The line works both ways.
        p.WriteString("ATZ\r");
        EXPECT_EQ(pty.Receive(4), "ATZ\r");
    }
}

TEST(SerialSetup, APortThatDoesNotOpenIsReportedAfterTheSetUpLine) {
    Instance inst;
    inst.Com("/nonexistent/zkdrv-tty", 2, 9600, 8, 0, 1, 1024);
    SetupSerialPort(*inst.rec);
    EXPECT_FALSE(inst.port().Active());
    EXPECT_NE(inst.port().ErrorCode(), 0);
    const auto events = inst.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "Inicializace portu: COM2 9600Bd");
    EXPECT_EQ(events.back(), "Chyba při otevření portu !");
}

TEST(SerialSetup, RunningItAgainReopensTheSamePortAndTakesItFromNoOneElse) {
    Pty pty;
    Instance first, second;
    first.Com(pty.name(), 1, 9600, 8, 0, 1, 1024);
    second.Com(pty.name(), 1, 9600, 8, 0, 1, 1024);
    SetupSerialPort(*first.rec);
    ASSERT_TRUE(first.port().Active());
    const auto generation = first.port().Generation();
    SetupSerialPort(*first.rec);
    EXPECT_TRUE(first.port().Active());
    EXPECT_GT(first.port().Generation(), generation);
    SetupSerialPort(*second.rec);  // the port is the first instance's
    EXPECT_FALSE(second.port().Active());
    EXPECT_EQ(second.events().back(), "Chyba při otevření portu !");
    first.port().WriteString("mine");
    EXPECT_EQ(pty.Receive(4), "mine");
}

namespace {
std::string RunInit(Instance& inst, const std::string& device, bool& ok) {
    zktest::TempDir dir;
    const std::string file = dir.file("drv.par");
    zktest::ParFileOptions options;
    options.device = device;
    zktest::WriteFile(file, zktest::MakeParFile(options));
    // The same settings as the file's [COM] group, for a build whose loader leaves them alone.
    inst.Com(device, 1, 9600, 8, 0, 1, 1024);
    char text[256] = "D1";
    ok = Init(*inst.rec, static_cast<std::int32_t>(file.size()), file.c_str(), text, 3, 0, 0);
    return text;
}
}  // namespace

TEST(SerialSetupInit, WithAPortThatOpensInitStartsTheWorkerAndDoneClosesThePort) {
    Pty pty;
    Instance inst;
    bool ok = false;
    RunInit(inst, pty.name(), ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(inst.port().Active());
    EXPECT_TRUE(inst.rec->Running.load());
    EXPECT_NE(inst.rec->Thread, nullptr);
    const auto events = inst.events();
    EXPECT_NE(std::find(events.begin(), events.end(), "Inicializace portu: COM1 9600Bd"), events.end());
    EXPECT_EQ(std::find(events.begin(), events.end(), "Chyba při otevření portu !"), events.end());
    Done(*inst.rec);
    EXPECT_FALSE(inst.port().Active());
    EXPECT_FALSE(inst.rec->Running.load());
    EXPECT_EQ(inst.rec->Thread, nullptr);
    // The port is free again.
    TSerial other;
    other.SetDeviceName(pty.name());
    other.SetActive(true);
    EXPECT_TRUE(other.Active());
}

TEST(SerialSetupInit, WithAPortThatDoesNotOpenInitFailsWithTheInstallationText) {
    Instance inst;
    bool ok = true;
    const std::string text = RunInit(inst, "/nonexistent/zkdrv-tty", ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Cp1250ToUtf8(text), "Chyba instalace COM-portu !");
    EXPECT_FALSE(inst.rec->Running.load());
    EXPECT_EQ(inst.rec->Thread, nullptr);
    const auto events = inst.events();
    const auto error = std::find(events.begin(), events.end(), "Chyba při otevření portu !");
    ASSERT_NE(error, events.end());
    ASSERT_NE(error, events.begin());
    EXPECT_EQ((error - 1)->rfind("Inicializace portu: COM", 0), 0u);
}
