// The ring position, the compaction of the read queue, and how the scheduler chooses between
// the write queue, the read queue and the ring.
#include <gtest/gtest.h>

#include <tuple>

#include "worker/scheduler.h"
#include "worker_fixture.h"

using namespace zk;
using zktest::Bytes;

namespace {

using Position = std::tuple<int, int, int>;  // station, request kind, address

class Ring : public zktest::WorkerFixture {
protected:
    // The requests the ring asks, in order, starting from the current position.
    std::vector<Position> Walk(int steps) {
        std::vector<Position> out;
        for (int i = 0; i < steps; ++i) {
            out.emplace_back(ctx->Scheduler.RingStation, RingKind(ctx->Scheduler.RingBlock), ctx->Scheduler.RingItem);
            AdvanceRing(*ctx);
        }
        return out;
    }
};

TEST_F(Ring, EachStationIsAskedItsBlocksThenOneRequestPerMemoryInput) {
    DefineStations(2);
    Station(1).NumMemoryIn = 2;
    Station(2).NumMemoryIn = 0;
    // After the reset the ring starts at block 0 (kind 0) and then goes on with block 1.
    const std::vector<Position> expected = {
        {1, 0, 1}, {1, 0, 1}, {1, 1, 1}, {1, 2, 1}, {1, 3, 1}, {1, 6, 1}, {1, 6, 2},
        {2, 0, 1}, {2, 1, 1}, {2, 2, 1}, {2, 3, 1}, {2, 6, 1},
        {1, 0, 1}, {1, 1, 1},
    };
    EXPECT_EQ(Walk(static_cast<int>(expected.size())), expected);
}

TEST_F(Ring, AStationThatReadsItsMemoryInputsAsOneBlockIsAskedOnce) {
    DefineStations(1);
    Station(1).NumMemoryIn = 3;
    Station(1).WholeBlockRead = true;
    ctx->Scheduler.RingBlock = 1;
    const std::vector<Position> expected = {{1, 0, 1}, {1, 1, 1}, {1, 2, 1}, {1, 3, 1}, {1, 6, 1}, {1, 0, 1}};
    EXPECT_EQ(Walk(6), expected);
}

TEST_F(Ring, WithoutStationsTheRingStaysOnStationOne) {
    ctx->Scheduler.RingBlock = 5;
    AdvanceRing(*ctx);
    EXPECT_EQ(Position(ctx->Scheduler.RingStation, ctx->Scheduler.RingBlock, ctx->Scheduler.RingItem), Position(1, 1, 1));
}

class Compaction : public zktest::WorkerFixture {
protected:
    void Read(int station, const std::string& item) {
        AppendRequest(ctx->ReadQueue, static_cast<std::uint8_t>(station), 16, 0, item, nullptr);
    }
    std::vector<std::pair<int, std::string>> Queue() const {
        std::vector<std::pair<int, std::string>> out;
        for (const RequestNode* n = ctx->ReadQueue.Head; n; n = n->Next) out.emplace_back(n->Station, n->Data.str());
        return out;
    }
};

TEST_F(Compaction, SingleItemReadsOfOneStationMergeUntilAnotherStationOrAZeroItem) {
    const std::string a = Bytes({1, 2, 3}), b = Bytes({1, 2, 4}), c = Bytes({1, 2, 5}), zero = Bytes({0, 0, 0});
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::string>> in;
        std::vector<std::pair<int, std::string>> out;
    };
    const Case cases[] = {
        {"one station", {{1, a}, {1, b}, {1, c}}, {{1, a + b + c}}},
        {"another station between", {{1, a}, {2, b}, {1, c}}, {{1, a}, {2, b}, {1, c}}},
        {"two runs", {{1, a}, {1, b}, {2, a}, {2, c}}, {{1, a + b}, {2, a + c}}},
        {"a zero item is not merged", {{1, a}, {1, zero}, {1, c}}, {{1, a}, {1, zero}, {1, c}}},
        {"nothing merges into a zero item", {{1, zero}, {1, b}}, {{1, zero}, {1, b}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        EmptyQueue(ctx->ReadQueue);
        for (const auto& [station, item] : k.in) Read(station, item);
        CompactReadQueue(*ctx);
        EXPECT_EQ(Queue(), k.out);
    }
}

TEST_F(Compaction, OtherKindsAreSkippedAndOnlySingleItemReadsAreTakenIn) {
    const std::string a = Bytes({1, 2, 3}), b = Bytes({1, 2, 4});
    AppendRequest(ctx->ReadQueue, 1, 240, 0, Bytes({192}), nullptr);
    Read(1, a);
    Read(1, a + b);  // two items: stays a node of its own
    Read(1, b);
    CompactReadQueue(*ctx);
    ASSERT_EQ(CountRequests(ctx->ReadQueue), 3u);
    EXPECT_EQ(ctx->ReadQueue.Head->Kind, 240);
    EXPECT_EQ(Queue()[1].second, a);
    EXPECT_EQ(Queue()[2].second, a + b + b);
}

TEST_F(Compaction, AMergedReadHoldsAtMostTheLimitAndTheLimitCycles) {
    for (int i = 0; i < 70; ++i) Read(1, Bytes({1, 2, i + 1}));
    ctx->Scheduler.MergeLimit = 7;  // out of range: starts at 60
    CompactReadQueue(*ctx);
    const auto q = Queue();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].second.size(), 60u * 3);
    EXPECT_EQ(q[1].second.size(), 10u * 3);
    EXPECT_EQ(ctx->Scheduler.MergeLimit, 59);  // two nodes visited: 60, 61, then round to 59
    CompactReadQueue(*ctx);           // the first node is over the limit; the last node is not visited
    EXPECT_EQ(ctx->Scheduler.MergeLimit, 60);
    EXPECT_EQ(Queue(), q);
}

class Choosing : public zktest::WorkerFixture {
protected:
    void SetUp() override {
        DefineStations(3);
        ctx->Modem.LineConnected = true;
        ctx->Line.Active = true;
    }
};

TEST_F(Choosing, AWriteGoesBeforeTheReads) {
    AppendRequest(ctx->ReadQueue, 2, 16, 0, Bytes({1, 2, 3}), nullptr);
    AppendRequest(ctx->ReadQueue, 2, 16, 0, Bytes({1, 2, 4}), nullptr);
    AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({0x0A, 0xFF}), nullptr);
    ScheduleStep(*rec);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"ST1 - QQ/zápis (0A FF )"});
    EXPECT_TRUE(ctx->Scheduler.WriteChosen);
    EXPECT_FALSE(ctx->Scheduler.ReadChosen);
    EXPECT_EQ(Station(1).RequestCount, 1u);
    EXPECT_EQ(CountRequests(ctx->ReadQueue), 2u);  // not even compacted
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 1u);  // the node stays until it is settled
}

TEST_F(Choosing, ReadsAreCompactedAndShownWithTheirItemCount) {
    for (int i = 0; i < 3; ++i) AppendRequest(ctx->ReadQueue, 2, 16, 0, Bytes({1, 2, i + 1}), nullptr);
    ScheduleStep(*rec);
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"Fronta požadavků pro TL2 zkomprimována ( 3->1 )",
                                                      "ST2 - QQ/čtení (3x)"}));
    EXPECT_TRUE(ctx->Scheduler.ReadChosen);
    EXPECT_EQ(Station(2).RequestCount, 1u);
}

TEST_F(Choosing, SleepingStationsAreRotatedBehindAndAWriteQueueOfSleepersLetsTheReadsGo) {
    Station(1).SleepLeft = 30;
    AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({1}), nullptr);
    AppendRequest(ctx->WriteQueue, 2, 15, 0, Bytes({2}), nullptr);
    ScheduleStep(*rec);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"ST2 - QQ/zápis (02 )"});
    EXPECT_EQ(ctx->WriteQueue.Head->Station, 2);
    EXPECT_EQ(ctx->WriteQueue.Tail->Station, 1);

    RemoveRequest(ctx->WriteQueue, ctx->WriteQueue.Head);
    AppendRequest(ctx->ReadQueue, 3, 16, 0, Bytes({1, 2, 3}), nullptr);
    ctx->Scheduler.TxState = zk::TxState::Choose;
    ScheduleStep(*rec);
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{"ST3 - QQ/čtení (1x)"});
    EXPECT_FALSE(ctx->Scheduler.WriteChosen);
    EXPECT_TRUE(ctx->Scheduler.ReadChosen);
    EXPECT_EQ(CountRequests(ctx->WriteQueue), 1u);
}

TEST_F(Choosing, TheRingPassesSleepingStationsAndAllAsleepStartsTheFullSleep) {
    ctx->Global.PrstynekRun = true;
    ctx->Global.SLEEP_TIME = 45;
    Station(1).SleepLeft = 10;
    ScheduleStep(*rec);
    EXPECT_EQ(Station(1).RequestCount, 0u);
    EXPECT_EQ(Station(2).RequestCount, 1u);
    EXPECT_EQ(ctx->Scheduler.FullSleepLeft.load(), 0.0);

    for (int n = 1; n <= 3; ++n) Station(n).SleepLeft = 10;
    ctx->Scheduler.TxState = zk::TxState::Choose;
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.FullSleepLeft.load(), 45.0);
    EXPECT_EQ(Station(2).RequestCount, 1u);
    // During the full sleep the scheduler does nothing at all.
    ctx->Scheduler.TxState = zk::TxState::Choose;
    AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({1}), nullptr);
    ScheduleStep(*rec);
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Choose);
}

TEST_F(Choosing, AllStationsAsleepRightAfterTheResetEndsTheSearch) {
    // The position after the reset (block 0) never comes round again; the search must still end.
    ctx->Global.PrstynekRun = true;
    ctx->Global.SLEEP_TIME = 20;
    ctx->Scheduler.RingBlock = 0;
    for (int n = 1; n <= 3; ++n) Station(n).SleepLeft = 10;
    Station(2).NumMemoryIn = 4;
    ScheduleStep(*rec);
    EXPECT_EQ(ctx->Scheduler.FullSleepLeft.load(), 20.0);
}

TEST_F(Choosing, WhileHeldNothingIsChosenButTheRingMovesOn) {
    ctx->Scheduler.HoldPolling = true;
    ctx->Global.PrstynekRun = true;
    AppendRequest(ctx->WriteQueue, 1, 15, 0, Bytes({1}), nullptr);
    const auto block = ctx->Scheduler.RingBlock;
    ScheduleStep(*rec);
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_EQ(Station(1).RequestCount, 0u);
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Receiving);
    EXPECT_FALSE(ctx->Scheduler.Outstanding);
    EXPECT_NE(ctx->Scheduler.RingBlock, block);
    ScheduleStep(*rec);  // nothing outstanding: back to choosing
    EXPECT_EQ(ctx->Scheduler.TxState.load(), zk::TxState::Choose);
}

}  // namespace
