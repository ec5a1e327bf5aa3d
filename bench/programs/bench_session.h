// A driver instance for the measuring programs: the library loaded by file name and reached
// through its exports only, on the pseudo-terminal of an in-process zksim, in a directory of
// its own that is removed at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/driver_api.h"
#include "zksim/zksim.h"

namespace zkbench {

using Clock = std::chrono::steady_clock;

// What the parameter file says.
struct LineSetup {
    int stations = 1;          // addresses 11, 12, ... (the driver is 1), no telephone numbers
    int qqItems = 0;           // QQ items per station (channels 50001...); any QQ item stops the own poll
    int idleTime = 10;         // IDLE_TIME, ms
    int silenceWait = 50;      // SILENCE_WAIT, ms
    int baud = 9600;           // BAUD of [COM]; zksim paces its answers at this speed when `pace`
    bool pace = true;
    bool log = false;          // $DIAGS: the log on
    std::string driverName = "ZKBENCH";
};

// The channel of QQ item `item` (1..) of station `station` (1..).
constexpr std::uint32_t QqChannel(int station, int item) {
    return static_cast<std::uint32_t>(50000 + (station - 1) * 50 + item);
}

constexpr int StationAddress(int station) { return 10 + station; }

class BenchSession {
public:
    // Loads the library and starts zksim; `tap` sees the traffic (see SimOptions::wireTap).
    BenchSession(zktool::DriverApi& api, LineSetup setup,
                 std::function<void(bool toDriver, std::string_view bytes)> tap = {});
    ~BenchSession();
    BenchSession(const BenchSession&) = delete;
    BenchSession& operator=(const BenchSession&) = delete;

    // MakeDriver and Init; false and the reason in `error`.
    bool Init(std::string& error);
    // The first station calls; true once the driver has answered and acknowledged its report.
    bool Connect(std::string& error, double limitSeconds = 60);
    void Stop();  // Done and DisposeDriver

    void* driver() const { return driver_; }
    zksim::Simulator& sim() { return *sim_; }
    const std::string& directory() const { return dir_; }

private:
    zktool::DriverApi& api_;
    LineSetup setup_;
    std::string dir_, parPath_;
    std::unique_ptr<zksim::Simulator> sim_;
    void* driver_ = nullptr;
    bool running_ = false;
};

// The parameter file of `setup` on `device`.
std::string ParText(const LineSetup& setup, const std::string& device, const std::string& logFile);

// Median / percentile of a sample (sorted in place); 0 for an empty one.
double Percentile(std::vector<double>& values, double fraction);

// The library to measure: argument, or the one of this build.
std::string LibraryPath(const char* argument);

}  // namespace zkbench
