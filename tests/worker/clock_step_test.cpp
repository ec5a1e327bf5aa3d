// Changes of the wall clock in the middle of a session: summer and winter time, a clock set by
// hand or corrected by NTP, midnight. Every time limit is measured on the monotonic clock, so
// each of these runs shows exactly the events of a run without the change, at the same moments;
// only the texts that show the date and time follow the wall clock.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/cp1250.h"
#include "base/texts.h"
#include "line/modem.h"
#include "protocol/queues.h"
#include "worker/pass.h"
#include "worker_fixture.h"

using namespace zk;
using zktest::Bytes;

namespace {

constexpr std::int64_t kPassMs = 250;      // a binary fraction of a second: the sums stay exact
constexpr std::int64_t kRunMs = 70000;     // past every limit below
constexpr std::int64_t kHourMs = 3600000;

// One change of the wall clock, `atMs` after the start of the session.
struct WallStep {
    std::int64_t atMs;
    std::int64_t stepMs;
};

struct WallClockCase {
    const char* name;
    std::int64_t startOfDayMs;  // the wall clock's time of day at the start
    std::vector<WallStep> steps;
};

const WallClockCase kWallClockCases[] = {
    {"unchanged", 10 * kHourMs, {}},
    {"summer time: an hour forward", 10 * kHourMs, {{3000, kHourMs}}},
    {"winter time: an hour back", 10 * kHourMs, {{3000, -kHourMs}}},
    {"an hour forward, then back", 10 * kHourMs, {{2000, kHourMs}, {4500, -kHourMs}}},
    {"forward and back within the longest wait", 10 * kHourMs, {{15000, kHourMs}, {45000, -kHourMs}}},
    {"midnight passes", 24 * kHourMs - 2000, {}},
    {"set by hand across midnight, backwards", 1000, {{3000, -2 * kHourMs}}},
    {"an hour forward across midnight", 23 * kHourMs + 30 * 60000, {{3000, kHourMs}}},
    {"NTP corrections", 10 * kHourMs, {{1000, 1500}, {2000, -900}, {21000, -40000}}},
};

// What a session shows, and when (milliseconds after its start on the monotonic clock).
using Timeline = std::vector<std::pair<std::int64_t, std::string>>;

enum class Session { Dialling, Connected };

class ClockStep : public zktest::WorkerFixture {
public:
    // Both sessions: station 1 asleep for 30 s, the full sleep for 40 s, a history read-out
    // with a time-out of 50 s whose reads never leave, the hold after an answered call (10 s)
    // and a ring counted (forgotten after RingTimeout, 10 s).
    void Prepare(Session session) {
        DefineStations(2);
        Station(1).Address = 5;
        Station(2).Address = 6;
        ctx->Global.ADDRESS = 1;
        ctx->Global.PREFIX.clear();
        ctx->Global.SUFFIX.clear();
        ctx->Line.Active = true;
        ctx->Scheduler.HoldPolling = true;
        ctx->Timers.Hold = 0.0;
        ctx->Modem.RingCount = 1;
        ctx->Modem.SinceRing = 0.0;
        ctx->Modem.RingTimeout = 10.0;
        if (session == Session::Dialling) {
            // A dial waiting up to 20 s for CONNECT; the sleeps and the read-out run meanwhile.
            Station(1).SleepLeft = 30.0;
            ctx->Scheduler.FullSleepLeft = 40.0;
            ctx->History.HdbStation = 2;
            ctx->History.HdbReadState = HdbReadState::Reading;
            ctx->History.HdbReadTimeout = 50.0;
            AppendRequest(ctx->ReadQueue, 2, 240, 0, Bytes({192}), nullptr);
            ctx->Modem.DialBlock.Limit = 20.0;
            QueueDial(ctx->Modem, "123");
        } else {
            // A connected line: a write to station 1 that is never answered runs into the
            // answer time (5 s) twice, the station sleeps 20 s, wakes and is asked again.
            ctx->Scheduler.HoldPolling = false;
            ctx->Global.ANSWER_TIME = 5.0;
            ctx->Global.SILENCE_WAIT = 20;
            ctx->Global.SLEEP_COUNT = 2;
            ctx->Global.SLEEP_TIME = 20.0;
            ctx->Modem.LineConnected = true;
            AppendRequest(ctx->WriteQueue, 1, ReqChannelWrite, 0, Bytes({0x01, 0x02, 0x03, 0x00, 0x00, 0x80, 0x41}),
                          nullptr);
        }
    }

    // Runs the session with the wall clock changed as `c` says; what it showed, and when.
    Timeline Run(Session session, const WallClockCase& c) {
        StepWallClock(c.startOfDayMs - msOfDay);
        ctx->LastTimeOfDay = CentisecondsOfDay(*ctx);
        Prepare(session);
        TakeEvents();
        Timeline seen;
        auto steps = c.steps.begin();
        bool held = ctx->Scheduler.HoldPolling.load();
        bool ringCounted = ctx->Modem.RingCount > 0;
        for (std::int64_t t = kPassMs; t <= kRunMs; t += kPassMs) {
            Advance(kPassMs);
            for (; steps != c.steps.end() && steps->atMs <= t; ++steps) StepWallClock(steps->stepMs);
            RunPassSteps(*rec);
            ctx->Line.Outbox.clear();  // what is written leaves the port at once
            for (std::string& line : TakeEvents()) {
                // The time in a time-out report is the wall clock's: the only text that differs.
                const std::string report = Cp1250ToUtf8(text::kTimeoutReport);
                const auto at = line.find(report);
                if (at != std::string::npos) line.resize(at + report.size());
                seen.emplace_back(t, line);
            }
            if (held && !ctx->Scheduler.HoldPolling.load()) seen.emplace_back(t, "(hold ended)");
            if (ringCounted && ctx->Modem.RingCount == 0) seen.emplace_back(t, "(ring forgotten)");
            held = ctx->Scheduler.HoldPolling.load();
            ringCounted = ctx->Modem.RingCount > 0;
        }
        return seen;
    }
};

// A session of its own, beside the test's.
struct SecondSession final : ClockStep {
    void TestBody() override {}
};

std::int64_t FirstAt(const Timeline& seen, const std::string& text) {
    for (const auto& [at, line] : seen)
        if (line == text) return at;
    return -1;
}

// The session without a change of the wall clock: every limit falls due when it should.
TEST_F(ClockStep, WithoutAChangeEveryLimitFallsDueOnTime) {
    const Timeline dialling = Run(Session::Dialling, kWallClockCases[0]);
    EXPECT_EQ(FirstAt(dialling, "(hold ended)"), 10000);
    EXPECT_EQ(FirstAt(dialling, "(ring forgotten)"), 10250);  // more than 10 s
    const std::int64_t modem = FirstAt(dialling, "MODEM - Překročení času na odpověď");
    EXPECT_GT(modem, 20000);  // the dial's own time starts once the command has left
    EXPECT_LE(modem, 20000 + 4 * kPassMs);
    EXPECT_EQ(FirstAt(dialling, "ST1 - konec módu \"sleep\""), 30000);
    EXPECT_EQ(FirstAt(dialling, "Konec úplného módu \"sleep\""), 40000);
    EXPECT_EQ(FirstAt(dialling, "HDB: přerušeno čtení - timeout"), 50250);  // more than 50 s
}

TEST_F(ClockStep, ConnectedWithoutAChangeTheAnswerTimeAndTheSleepFallDueOnTime) {
    const Timeline connected = Run(Session::Connected, kWallClockCases[0]);
    const std::int64_t first = FirstAt(connected, "ST1 - překročení času (");
    EXPECT_GT(first, 5000);
    EXPECT_LE(first, 5000 + 4 * kPassMs);
    const std::int64_t asleep = FirstAt(connected, "ST1 - start módu \"sleep\"");
    EXPECT_GT(asleep, first);
    EXPECT_EQ(FirstAt(connected, "ST1 - konec módu \"sleep\""), asleep + 20000);
}

// Each change of the wall clock, in each session: the same events at the same moments.
TEST_F(ClockStep, AChangeOfTheWallClockMovesNoTimeLimit) {
    for (const Session session : {Session::Dialling, Session::Connected}) {
        Timeline expected;
        {
            SecondSession baseline;
            expected = baseline.Run(session, kWallClockCases[0]);
        }
        ASSERT_FALSE(expected.empty());
        for (const WallClockCase& c : kWallClockCases) {
            SCOPED_TRACE(std::string(session == Session::Dialling ? "dialling, " : "connected, ") + c.name);
            SecondSession run;
            EXPECT_EQ(run.Run(session, c), expected);
        }
    }
}

}  // namespace
