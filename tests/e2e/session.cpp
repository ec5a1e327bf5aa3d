#include "e2e/session.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "base/cp1250.h"
#include "zksim/config.h"

namespace zke2e {

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::string LastLines(const std::string& text, std::size_t count) {
    const std::vector<std::string> lines = Lines(text);
    std::string out;
    for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i) out += lines[i] + "\n";
    return out;
}

}  // namespace

std::string BinaryStation(int address, std::string_view name, int binaryInputs, std::string_view lines) {
    const std::string a = std::to_string(address);
    return "[STATION] ADDRESS " + a + " RETRANSLATION " + a + "\r\n" +
           "NAME \" " + std::string(name) + "\"\r\n" +
           "NUM_BINAR_IN " + std::to_string(binaryInputs) +
           " NUM_BINAR_OUT 0 NUM_ANALOG_IN 0 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0\r\n"
           "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR 0\r\n"
           "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE\r\n" +
           std::string(lines) + "ORIGINAL_CHANNELS\r\nEND\r\n";
}

std::string ParFile(const Config& c, const std::string& device, const std::string& logFile) {
    std::string f = "$DIAGS\r\n{ end-to-end test of the driver against zksim }\r\n";
    f += "[COM]\r\nIRQ 4 BASE 1016 " + c.com + " BITS 8 PARITY NONE STOP 1\r\n";
    f += "OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM 1\r\n";
    f += "DEVICE " + device + "\r\nEND\r\n";
    f += "[MODEM]\r\n" + c.modem + "\r\nEND\r\n";
    f += "[GLOBAL]\r\nPREFIX " + c.prefix + "\r\nSUFFIX NONE\r\nPRESUFFIX NONE\r\n";
    f += "ADDRESS 1 RTS_TIME_ON 0 RTS_TIME_OFF 0 DEF_ANALOG_IN_ADDR 256 IDLE_TIME 5\r\n";
    f += c.global + "\r\n";
    // A lone quote as the value item keeps the path as written.
    f += "LOG_FILE \" " + logFile + "\"\r\nEND\r\n";
    f += c.stations;
    return f;
}

namespace {

template <typename T>
T ValueOf(const ZkHostValue& v) {
    T x;
    std::memcpy(&x, v.value, sizeof x);
    return x;
}

}  // namespace

WorkingDirectory::WorkingDirectory(const std::string& directory) {
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer)) previous_ = buffer;
    EXPECT_EQ(::chdir(directory.c_str()), 0) << directory;
}

WorkingDirectory::~WorkingDirectory() {
    if (!previous_.empty() && ::chdir(previous_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << previous_;
}

zksim::SimOptions FastModem() {
    zksim::SimOptions o;
    o.dialDelayMs = 30;
    o.answerDelayMs = 30;
    o.guardMs = 150;
    o.replyDelayMs = 0;
    o.ringIntervalMs = 3500;
    o.ringingIntervalMs = 20;
    o.reportDelayMs = 300;
    return o;
}

bool WaitUntil(const std::function<bool()>& ready, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (ready()) return true;
        if (std::chrono::steady_clock::now() > end) return ready();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ReturnsWithin(std::function<void()> call, double seconds) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread t([call = std::move(call), finished] {
        call();
        finished->store(true);
    });
    const bool returned = WaitUntil([&] { return finished->load(); }, seconds);
    if (returned) t.join();
    else t.detach();
    return returned;
}

Session::Session(Config config, zksim::SimOptions options, const std::function<void(zksim::LineDef&)>& adjust) {
    logPath_ = dir_.file("driver.log");
    tracePath_ = dir_.file("zksim.trace");
    parPath_ = dir_.file("e2e.par");
    // zksim reads the stations from the same file (the device does not matter to it).
    std::string error;
    zksim::LineDef line;
    const bool scanned = zksim::ScanParameterText(ParFile(config, "/dev/null", logPath_), line, error);
    EXPECT_TRUE(scanned) << error;
    if (adjust) adjust(line);
    options.line = line;
    options.tracePath = tracePath_;
    if (config.link) options.linkPath = dir_.file("modem");
    options_ = options;
    sim_ = std::make_unique<zksim::Simulator>(options);
    if (!sim_->Start(error)) {
        ADD_FAILURE() << "zksim does not start: " << error;
        return;
    }
    par_ = ParFile(config, config.link ? options.linkPath : sim_->SlavePath(), logPath_);
    zktest::WriteFile(parPath_, par_);
}

Session::~Session() {
    Stop();
    if (sim_) sim_->Stop();
    // ZK_E2E_KEEP=<directory> keeps the log and the trace of a failed test there.
    const char* keep = std::getenv("ZK_E2E_KEEP");
    if (keep && *keep && ::testing::Test::HasFailure()) {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = std::string(keep) + "/" + (test ? test->name() : "session");
        zktest::WriteFile(name + ".log", Log());
        zktest::WriteFile(name + ".trace", zktest::ReadFile(tracePath_));
    }
}

void Session::StopSim() {
    if (sim_) sim_->Stop();
}

bool Session::StartSim() {
    if (sim_) sim_->Stop();
    sim_ = std::make_unique<zksim::Simulator>(options_);
    std::string error;
    if (!sim_->Start(error)) {
        ADD_FAILURE() << "zksim does not start again: " << error;
        return false;
    }
    return true;
}

bool Session::Init(std::string* error) {
    auto& api = zktest::Library();
    if (!driver_) driver_ = api.MakeDriver();
    char text[256] = "E2E";
    running_ = api.Init(driver_, static_cast<std::int32_t>(parPath_.size()), parPath_.c_str(), 0, text, 3, 0, 0, 0) != 0;
    if (!running_ && error) *error = text;
    return running_;
}

void Session::Start() {
    std::string error;
    ASSERT_TRUE(Init(&error)) << error;
    E2E_WAIT(*this, Flag(kModemReady));
}

void Session::Stop() {
    if (!driver_) return;
    auto& api = zktest::Library();
    if (running_) api.Done(driver_);
    running_ = false;
    api.DisposeDriver(driver_);
    driver_ = nullptr;
}

bool Session::Flag(std::uint32_t channel) {
    ZkHostValue v{};
    v.type = 2;
    zktest::Library().GetInput(driver_, channel, &v);
    return v.value[0] != 0;
}

double Session::Real(std::uint32_t channel) {
    ZkHostValue v{};
    v.type = 10;
    zktest::Library().GetInput(driver_, channel, &v);
    return ValueOf<double>(v);
}

float Session::Single(std::uint32_t channel) {
    ZkHostValue v{};
    v.type = 9;
    zktest::Library().GetInput(driver_, channel, &v);
    return ValueOf<float>(v);
}

std::int32_t Session::Long(std::uint32_t channel) {
    ZkHostValue v{};
    v.type = 8;
    zktest::Library().GetInput(driver_, channel, &v);
    return ValueOf<std::int32_t>(v);
}

void Session::Request(std::uint32_t channel) { zktest::Library().InputRequest(driver_, channel); }

void Session::WriteFlag(std::uint32_t channel, bool value) {
    zktest::Library().OutputRequest(driver_, channel, 2, value ? 1 : 0);
}

void Session::WriteReal(std::uint32_t channel, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    zktest::Library().OutputRequest(driver_, channel, 10, bits);
}

void Session::WriteSingle(std::uint32_t channel, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    zktest::Library().OutputRequest(driver_, channel, 9, bits);
}

void Session::WriteWord(std::uint32_t channel, std::uint16_t value) {
    zktest::Library().OutputRequest(driver_, channel, 4, value);
}

std::string Session::Log() const { return zktest::ReadFile(logPath_); }

std::size_t Session::Events(std::string_view text) const {
    std::size_t n = 0;
    for (const std::string& line : Lines(Log())) {
        const std::size_t tag = line.find(" AddToMemo : ");
        if (tag != std::string::npos && line.find(text, tag) != std::string::npos) ++n;
    }
    return n;
}

std::string Session::Tail() const {
    return "--- log (last lines) ---\n" + zk::Cp1250ToUtf8(LastLines(Log(), 60)) + "--- zksim trace (last lines) ---\n" +
           LastLines(zktest::ReadFile(tracePath_), 30);
}

void Session::Dial(int station) {
    WriteFlag(Ch(station, kConnect), true);
    E2E_WAIT(*this, Flag(Ch(station, kConnected)));
}

std::string Body(const zksim::Bytes& request) {
    // [retranslation, L, "Y", driver, station, driver, body..., check]
    return request.size() > 7 ? request.substr(6, request.size() - 7) : std::string();
}

std::size_t CountRequests(zksim::Simulator& sim, std::string_view head) {
    std::size_t n = 0;
    for (const zksim::Bytes& r : sim.Requests())
        if (Body(r).starts_with(head)) ++n;
    return n;
}

std::array<std::uint8_t, 4> LittleEndian(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

}  // namespace zke2e
