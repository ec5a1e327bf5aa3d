#include "reliability/rig.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/cp1250.h"
#include "zksim/config.h"

namespace zkrel {

namespace {

template <typename T>
T ValueOf(const ZkHostValue& v) {
    T x;
    std::memcpy(&x, v.value, sizeof x);
    return x;
}

std::string LastLines(const std::string& text, std::size_t count) {
    std::size_t at = text.size();
    for (std::size_t n = 0; n <= count && at > 0; ++n) {
        const std::size_t nl = text.rfind('\n', at - 1);
        if (nl == std::string::npos) return text;
        at = nl;
    }
    return text.substr(at);
}

int CountEntries(const char* directory) {
    DIR* d = ::opendir(directory);
    if (!d) return -1;
    int n = 0;
    while (const dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    return n - (std::strcmp(directory, "/proc/self/fd") == 0 ? 1 : 0);  // the listing's own
}

}  // namespace

Rig::Rig(std::string name, const zke2e::Config& config, zksim::SimOptions options, std::string device)
    : name_(std::move(name)) {
    logPath_ = dir_.file("driver.log");
    tracePath_ = dir_.file("zksim.trace");
    parPath_ = dir_.file("rel.par");
    std::string error;
    zksim::LineDef line;
    const bool scanned = zksim::ScanParameterText(zke2e::ParFile(config, "/dev/null", logPath_), line, error);
    EXPECT_TRUE(scanned) << error;
    stations_ = static_cast<int>(line.stations.size());
    options.line = line;
    options.tracePath = tracePath_;
    sim_ = std::make_unique<zksim::Simulator>(options);
    if (!sim_->Start(error)) {
        ADD_FAILURE() << "zksim does not start: " << error;
        return;
    }
    zktest::WriteFile(parPath_, zke2e::ParFile(config, device.empty() ? sim_->SlavePath() : device, logPath_));
}

Rig::~Rig() {
    if (driver_) {
        if (running_) Done();
        Dispose();
    }
    if (sim_) sim_->Stop();
    // The history files that the instance's name gives, next to the program.
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int n = 1; n <= 100 && !ec; ++n) std::filesystem::remove(exe / (name_ + std::to_string(n) + ".hdb"), ec);
}

void Rig::Make() {
    if (!driver_) driver_ = zktest::Library().MakeDriver();
}

bool Rig::Init(std::string* error) {
    Make();
    char text[256] = {};
    std::memcpy(text, name_.c_str(), std::min<std::size_t>(name_.size(), 64));
    running_ = zktest::Library().Init(driver_, static_cast<std::int32_t>(parPath_.size()), parPath_.c_str(), 0, text, 3,
                                      0, 0, 0) != 0;
    if (!running_ && error) *error = text;
    return running_;
}

void Rig::Done() {
    if (driver_) zktest::Library().Done(driver_);
    running_ = false;
}

void Rig::Dispose() {
    if (driver_) zktest::Library().DisposeDriver(driver_);
    driver_ = nullptr;
    running_ = false;
}

bool Rig::Flag(std::uint32_t channel) {
    ZkHostValue v{};
    v.type = 2;
    zktest::Library().GetInput(driver_, channel, &v);
    return v.value[0] != 0;
}

double Rig::Real(std::uint32_t channel) {
    ZkHostValue v{};
    v.type = 10;
    zktest::Library().GetInput(driver_, channel, &v);
    return ValueOf<double>(v);
}

std::int32_t Rig::Long(std::uint32_t channel) {
    ZkHostValue v{};
    v.type = 8;
    zktest::Library().GetInput(driver_, channel, &v);
    return ValueOf<std::int32_t>(v);
}

void Rig::Request(std::uint32_t channel) { zktest::Library().InputRequest(driver_, channel); }

void Rig::WriteFlag(std::uint32_t channel, bool value) {
    zktest::Library().OutputRequest(driver_, channel, 2, value ? 1 : 0);
}

void Rig::WriteReal(std::uint32_t channel, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    zktest::Library().OutputRequest(driver_, channel, 10, bits);
}

void Rig::WriteLong(std::uint32_t channel, std::int32_t value) {
    zktest::Library().OutputRequest(driver_, channel, 8, static_cast<std::uint32_t>(value));
}

std::string Rig::Log() const { return zktest::ReadFile(logPath_); }

std::string Rig::Tail() const {
    return "--- log (last lines) ---\n" + zk::Cp1250ToUtf8(LastLines(Log(), 60)) + "\n--- zksim trace (last lines) ---\n" +
           LastLines(zktest::ReadFile(tracePath_), 30) + "\n";
}

bool Rig::Dial(int station, double seconds) {
    WriteFlag(Ch(station, zke2e::kConnect), true);
    return zke2e::WaitUntil([&] { return Flag(Ch(station, zke2e::kConnected)); }, seconds);
}

Resources Measure() {
    Resources r;
    r.heap = static_cast<std::int64_t>(mallinfo2().uordblks);
    r.descriptors = CountEntries("/proc/self/fd");
    r.threads = CountEntries("/proc/self/task");
    return r;
}

std::string Describe(const Resources& r) {
    return "heap " + std::to_string(r.heap) + " B, " + std::to_string(r.descriptors) + " descriptors, " +
           std::to_string(r.threads) + " threads";
}

}  // namespace zkrel
