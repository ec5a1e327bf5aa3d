#include "programs/bench_session.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <fstream>
#include <thread>
#include <vector>

#include "zksim/config.h"

namespace zkbench {

std::string ParText(const LineSetup& s, const std::string& device, const std::string& logFile) {
    std::string f = s.log ? "$DIAGS\r\n" : "";
    f += "[COM]\r\nIRQ 4 BASE 1016 BAUD " + std::to_string(s.baud) + " BITS 8 PARITY NONE STOP 1\r\n";
    f += "OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM 1\r\nDEVICE " + device + "\r\nEND\r\n";
    // A ring is answered at once; the first PREFIX byte ends the modem's reply.
    f += "[MODEM]\r\nINIT ATZ# INIT_TIME 6\r\nCONNECT_RING #@RING#@ RING_COUNT 1 RING_TIME 10\r\n"
         "CONNECT_ANSWER ATA# CONNECT_OK CONNECT ANSWER_TIME 10\r\nLINEOFF ~+++~ATH0# LINEOFF_TIME 8\r\nEND\r\n";
    f += "[GLOBAL]\r\nPREFIX $FF$FF\r\nSUFFIX NONE\r\nPRESUFFIX NONE\r\n";
    f += "ADDRESS 1 RTS_TIME_ON 0 RTS_TIME_OFF 0 DEF_ANALOG_IN_ADDR 256 IDLE_TIME " + std::to_string(s.idleTime) +
         "\r\nANSWER_TIME 1 SILENCE_WAIT " + std::to_string(s.silenceWait) +
         " NUM_MORVEL_ERROR 20 STOP_SELF_READING OFF\r\n";
    f += "LOG_FILE \" " + logFile + "\"\r\nEND\r\n";
    for (int n = 1; n <= s.stations; ++n) {
        const std::string a = std::to_string(StationAddress(n));
        f += "[STATION] ADDRESS " + a + " RETRANSLATION " + a + "\r\nNAME \" Stanice " + a + "\"\r\n";
        f += "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 4 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 0\r\n"
             "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
             "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE\r\n";
        for (int i = 1; i <= s.qqItems; ++i)
            f += "QQ BIDIR " + std::to_string(QqChannel(n, i)) + " 0 " + std::to_string(i) + " 0 LONGINT\r\n";
        f += "ORIGINAL_CHANNELS\r\nEND\r\n";
    }
    return f;
}

BenchSession::BenchSession(zktool::DriverApi& api, LineSetup setup,
                           std::function<void(bool, std::string_view)> tap)
    : api_(api), setup_(std::move(setup)) {
    char pattern[] = "/tmp/zkbench.XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    parPath_ = dir_ + "/bench.par";
    std::string error;
    zksim::SimOptions o;
    o.dialDelayMs = 30;
    o.answerDelayMs = 30;
    o.guardMs = 150;
    o.replyDelayMs = 0;
    o.reportDelayMs = 50;
    o.paceBaud = setup_.pace ? setup_.baud : 0;
    o.wireTap = std::move(tap);
    // ZK_BENCH_TRACE=FILE: zksim's trace of the traffic, for a look at a run.
    if (const char* trace = std::getenv("ZK_BENCH_TRACE"); trace && *trace) o.tracePath = trace;
    if (!zksim::ScanParameterText(ParText(setup_, "/dev/null", dir_ + "/driver.log"), o.line, error))
        throw std::runtime_error("zksim cannot read the parameter file: " + error);
    sim_ = std::make_unique<zksim::Simulator>(std::move(o));
    if (!sim_->Start(error)) throw std::runtime_error("zksim does not start: " + error);
    std::ofstream(parPath_, std::ios::binary) << ParText(setup_, sim_->SlavePath(), dir_ + "/driver.log");
}

BenchSession::~BenchSession() {
    Stop();
    if (sim_) sim_->Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

bool BenchSession::Init(std::string& error) {
    if (!driver_) driver_ = api_.MakeDriver();
    char text[256] = {};
    std::snprintf(text, sizeof text, "%s", setup_.driverName.c_str());
    running_ = api_.Init(driver_, static_cast<std::int32_t>(parPath_.size()), parPath_.c_str(), 0, text,
                         static_cast<std::uint32_t>(setup_.driverName.size()), 0, 0, 0) != 0;
    if (!running_) error = text;
    return running_;
}

bool BenchSession::Connect(std::string& error, double limitSeconds) {
    auto ready = [&] {
        ZkHostValue v{};
        v.type = 2;
        api_.GetInput(driver_, 60294, &v);  // the modem is initialised
        return v.value[0] != 0;
    };
    const auto end = Clock::now() + std::chrono::duration<double>(limitSeconds);
    while (!ready()) {
        if (Clock::now() > end) return error = "the modem never became ready", false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    zksim::Report report;
    if (!sim_->Call(static_cast<std::uint8_t>(StationAddress(1)), 1, report)) return error = "zksim cannot call", false;
    // Answered once the driver has acknowledged the caller's report.
    while (sim_->Status().acknowledgements < 1) {
        if (Clock::now() > end) return error = "the driver never answered the call", false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void BenchSession::Stop() {
    if (!driver_) return;
    if (running_) api_.Done(driver_);
    running_ = false;
    api_.DisposeDriver(driver_);
    driver_ = nullptr;
}

double Percentile(std::vector<double>& v, double fraction) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const double at = fraction * static_cast<double>(v.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(at));
    const std::size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}

std::string LibraryPath(const char* argument) { return argument && *argument ? argument : ZK_LIBRARY_PATH; }

}  // namespace zkbench
