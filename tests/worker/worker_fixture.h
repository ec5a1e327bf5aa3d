// A driver instance for the worker's tests: stations defined in code, a status window that
// records the event list, and the two clocks (wall and monotonic) that the test moves by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/cp1250.h"
#include "config/defaults.h"
#include "diag/status_window.h"
#include "host/instance.h"
#include "host/records.h"

namespace zktest {

class WorkerFixture : public ::testing::Test {
protected:
    WorkerFixture() {
        rec = zk::MakeDriver();
        ctx = rec->Context.get();
        ctx->Clock.now = [this] { return Now(); };
        ctx->Clock.monotonicMs = [this] { return monotonicMs; };
        zk::ResetContext(*ctx);
        rec->Window = std::make_unique<zk::StatusWindow>();
        zk::InitStatusWindow(*rec->Window);
        rec->Window->EventList.clear();
        ctx->LastTick = zk::TickHundredths(*ctx);
        ctx->LastTimeOfDay = zk::CentisecondsOfDay(*ctx);
        ctx->Modem.ModemLastTick = ctx->LastTick;
    }
    ~WorkerFixture() override { zk::DisposeDriver(rec); }

    // Defines stations 1..count named ST1, ST2, ...
    void DefineStations(int count) {
        ctx->StationCount = static_cast<std::uint8_t>(count);
        for (int n = 1; n <= count; ++n) Station(n).Name.assign("ST" + std::to_string(n));
    }
    zk::StationRecord& Station(int n) { return *ctx->Stations[static_cast<std::size_t>(n)]; }

    // The event lines shown since the last call, in UTF-8.
    std::vector<std::string> TakeEvents() {
        std::vector<std::string> out;
        for (const auto& line : rec->Window->EventList) out.push_back(zk::Cp1250ToUtf8(line));
        rec->Window->EventList.clear();
        return out;
    }

    // The wall clock: a day and a time of day in milliseconds. Setting msOfDay or day moves the
    // wall clock alone, as a change of the system's time does.
    zk::LocalTime Now() const {
        zk::LocalTime t;
        t.year = 2024;
        t.month = 3;
        t.day = day;
        t.hour = static_cast<int>(msOfDay / 3600000);
        t.minute = static_cast<int>(msOfDay / 60000 % 60);
        t.second = static_cast<int>(msOfDay / 1000 % 60);
        t.millisecond = static_cast<int>(msOfDay % 1000);
        return t;
    }
    // Time passes: both clocks move on.
    void Advance(std::int64_t ms) {
        monotonicMs += ms;
        StepWallClock(ms);
    }
    // The wall clock alone is set forward (or back, with a negative step), across days.
    void StepWallClock(std::int64_t ms) {
        msOfDay += ms;
        while (msOfDay >= 86400000) {
            msOfDay -= 86400000;
            ++day;
        }
        while (msOfDay < 0) {
            msOfDay += 86400000;
            --day;
        }
    }

    zk::DriverRecord* rec = nullptr;
    zk::DriverContext* ctx = nullptr;
    int day = 14;
    std::int64_t msOfDay = 10 * 3600000;  // 10:00:00.000
    std::int64_t monotonicMs = 123456789;  // an arbitrary origin, as the system's is
};

inline std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

}  // namespace zktest
