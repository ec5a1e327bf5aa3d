// One driver instance loaded from the library by file name, started on the pseudo-terminal
// of an in-process zksim (the modem and the stations behind it), and reached through the
// exports only. Every test starts its own session in its own directory, so that parallel runs
// share nothing: parameter file, log and simulator trace live in a fresh TempDir.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "support/library.h"
#include "support/temp_dir.h"
#include "zkdrv.h"
#include "zksim/zksim.h"

namespace zke2e {

// Offsets of the standard numbering: station n's channel is (n - 1) * 500 + offset.
enum Offset : int {
    kBi = 1,
    kBo = 97,
    kAi = 193,
    kCt = 257,
    kMo = 305,
    kMi = 405,
    kErrorNoAnswer = 450,
    kSleepTime = 453,
    kReadAiKolmet = 460,
    kReadCt = 461,
    kWriteBo = 462,
    kUnreachable = 465,
    kReadBi = 472,
    kReadKi = 473,
    kReadAiTervak = 475,
    kConnect = 476,
    kConnecting = 477,
    kConnected = 478,
    kActiveMessage = 479,
    kMsgCounter = 481,
};

constexpr std::uint32_t Ch(int station, int offset) { return static_cast<std::uint32_t>((station - 1) * 500 + offset); }

// Driver-wide and system channels the tests look at.
constexpr std::uint32_t kRequestsWaiting = 490;
constexpr std::uint32_t kWritesWaiting = 497;
constexpr std::uint32_t kFramesAccepted = 498;
constexpr std::uint32_t kModemInit = 60293;
constexpr std::uint32_t kModemReady = 60294;
constexpr std::uint32_t kHangUp = 60295;

// The parameter file's groups, as text (line ends are added).
struct Config {
    // [MODEM] keys. Modem replies end after 3 s of silence (or at the first PREFIX byte), so
    // every limit stays well above 3 s.
    std::string modem = "INIT ATZ# INIT_TIME 6\r\nCONNECT_OK CONNECT CONNECT_TIME 15\r\nLINEOFF ~+++~ATH0# LINEOFF_TIME 8";
    std::string prefix = "NONE";  // PREFIX of [GLOBAL]
    // Further [GLOBAL] keys (the mandatory ones are written by the session).
    std::string global = "ANSWER_TIME 1 SILENCE_WAIT 20 NUM_MORVEL_ERROR 20";
    std::string stations;         // the station groups
    std::string com = "BAUD 9600";
    // The parameter file names a symbolic link to zksim's terminal instead of the terminal, so
    // that zksim can be stopped and started again on the same link (Session::StopSim, StartSim).
    bool link = false;
};

// A station group with `binaryInputs` binary inputs and no other points, the standard
// channel numbering and the further keys in `lines` (PHONE, QQ items; CR LF after each).
std::string BinaryStation(int address, std::string_view name, int binaryInputs, std::string_view lines);

// The whole parameter file: the groups of `config`, the log on and written to `logFile`.
std::string ParFile(const Config& config, const std::string& device, const std::string& logFile);

// zksim timings for the tests: the modem and the stations answer at once, rings come more
// than 3 s apart (the driver takes a ring only after 3 s of silence).
zksim::SimOptions FastModem();

// Polls `ready` until it holds or `seconds` have passed. The limit is a safety net, never a
// measurement: it is far above what any step takes on a loaded machine.
bool WaitUntil(const std::function<bool()>& ready, double seconds = 90.0);

// Runs `call` on a thread of its own and tells whether it returned within `seconds`. A call
// that hangs is left behind (its thread detached): the test fails and the process ends anyway.
bool ReturnsWithin(std::function<void()> call, double seconds);

// Makes `directory` the working directory for its lifetime: the driver writes its log to the
// working directory until the parameter file names another one.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& directory);
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::string previous_;
};

class Session {
public:
    // Starts zksim with the stations of the parameter file (as `adjust` leaves them) and writes
    // the parameter file naming zksim's terminal. Init is left to the test.
    explicit Session(Config config, zksim::SimOptions options = FastModem(),
                     const std::function<void(zksim::LineDef&)>& adjust = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // MakeDriver and Init; false (and the driver's text in `error`) when Init fails.
    bool Init(std::string* error = nullptr);
    // Init, which must succeed, and the wait until the modem has been initialised.
    void Start();
    // Done, then DisposeDriver.
    void Stop();
    // The instance is given up (a stop that did not return): nothing is freed any more.
    void Abandon() { driver_ = nullptr; }
    void* driver() const { return driver_; }

    zksim::Simulator& sim() { return *sim_; }
    // zksim stops (its terminal closes under the driver: the device is gone) and starts again
    // with the same options on the same link (Config::link), with a fresh station image.
    void StopSim();
    bool StartSim();
    const zktest::TempDir& dir() const { return dir_; }
    const std::string& parText() const { return par_; }

    // The exports.
    bool Flag(std::uint32_t channel);
    double Real(std::uint32_t channel);
    float Single(std::uint32_t channel);
    std::int32_t Long(std::uint32_t channel);
    void Request(std::uint32_t channel);  // InputRequest
    void WriteFlag(std::uint32_t channel, bool value);
    void WriteReal(std::uint32_t channel, double value);
    void WriteSingle(std::uint32_t channel, float value);
    void WriteWord(std::uint32_t channel, std::uint16_t value);

    // The log (CP1250 text); the event list reaches it as lines tagged "AddToMemo".
    std::string Log() const;
    // Event-list lines that contain `text` (CP1250).
    std::size_t Events(std::string_view text) const;
    // The tail of the log and of zksim's trace, for failure messages.
    std::string Tail() const;

    // Waits for a connection through station `station`'s connect channel.
    void Dial(int station);

private:
    zktest::TempDir dir_;
    WorkingDirectory cwd_{dir_.path()};
    std::unique_ptr<zksim::Simulator> sim_;
    zksim::SimOptions options_;
    std::string par_, parPath_, logPath_, tracePath_;
    void* driver_ = nullptr;
    bool running_ = false;
};

// The bytes of a request frame's body (after the routing item) as zksim took it.
std::string Body(const zksim::Bytes& request);
// The request bodies zksim took that start with `head` ("Qq", "QQ", "b", ...).
std::size_t CountRequests(zksim::Simulator& sim, std::string_view head);

// Four bytes least significant first.
std::array<std::uint8_t, 4> LittleEndian(std::uint32_t v);

}  // namespace zke2e

// Waits for a condition on the running session; on time-out the test stops with the tails of
// the log and the trace.
#define E2E_WAIT(session, condition)                                                     \
    ASSERT_TRUE(::zke2e::WaitUntil([&]() -> bool { return static_cast<bool>(condition); })) \
        << "never came true: " #condition "\n"                                           \
        << (session).Tail()
