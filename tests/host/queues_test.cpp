// Request queues: the duplicate rule, removal, the indexes behind the duplicate check, and the
// receive queue.
#include "protocol/queues.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "host/records.h"

using namespace zk;

namespace {

std::string Addr(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    return std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
}

bool AppendRead(RequestQueue& q, std::uint8_t station, const std::string& data) {
    return AppendRequest(q, station, ReqChannelRead, 0, data, nullptr);
}

std::vector<std::string> Datas(const RequestQueue& q) {
    std::vector<std::string> out;
    for (const RequestNode* n = q.Head; n; n = n->Next) out.push_back(n->Data.str());
    return out;
}

// Walks the list both ways and checks the links against the count.
void ExpectConsistent(const RequestQueue& q) {
    std::size_t forward = 0;
    const RequestNode* last = nullptr;
    for (const RequestNode* n = q.Head; n; n = n->Next) {
        EXPECT_EQ(n->Prev, last);
        last = n;
        ++forward;
    }
    EXPECT_EQ(last, q.Tail);
    EXPECT_EQ(forward, q.Count);
}

}  // namespace

TEST(RequestQueue, AnEqualHeadDoesNotStopAnAppendButASecondEqualNodeDoes) {
    RequestQueue q;
    EXPECT_TRUE(AppendRead(q, 1, Addr(0, 32, 0)));   // empty queue: never dropped
    EXPECT_TRUE(AppendRead(q, 1, Addr(0, 32, 0)));   // equal to the head, which is being served
    EXPECT_FALSE(AppendRead(q, 1, Addr(0, 32, 0)));  // equal to the second node
    EXPECT_EQ(CountRequests(q), 2u);
    ExpectConsistent(q);
}

TEST(RequestQueue, EqualityOfKindsWithAndWithoutData) {
    RequestQueue q;
    MemoryBlock block;
    struct Case {
        std::uint8_t station;
        std::int32_t kind;
        std::uint16_t word;
        std::string data;
        const MemoryBlock* key;
        bool appended;
    };
    const Case cases[] = {
        {1, 0, 1, "", nullptr, true},          // head
        {1, 17, 1, "a", &block, true},         // memory-block read
        {1, 17, 1, "different", &block, false},  // kind 17 ignores the data: equal, not the head
        {1, 17, 1, "a", nullptr, true},        // another key
        {1, 17, 2, "a", &block, true},         // another word
        {2, 17, 1, "a", &block, true},         // another station
        {1, 15, 0, "abc", nullptr, true},      // a write
        {1, 15, 0, "abd", nullptr, true},      // kind 15 compares the data
        {1, 15, 0, "abc", nullptr, false},
        {1, 16, 0, "abc", nullptr, true},      // another kind
    };
    for (const Case& c : cases)
        EXPECT_EQ(AppendRequest(q, c.station, c.kind, c.word, c.data, c.key), c.appended)
            << "kind " << c.kind << " word " << c.word << " data " << c.data;
    ExpectConsistent(q);
}

TEST(RequestQueue, AnElementWriteWaitingBehindTheHeadTakesTheNewerValue) {
    RequestQueue q;
    MemoryBlock block;
    EXPECT_TRUE(AppendRequest(q, 1, ReqBlockItemWrite, 2, "old", &block));  // the head
    EXPECT_TRUE(AppendRequest(q, 1, ReqBlockItemWrite, 2, "one", &block));
    EXPECT_TRUE(AppendRequest(q, 1, ReqBlockItemWrite, 3, "other", &block));
    EXPECT_FALSE(AppendRequest(q, 1, ReqBlockItemWrite, 2, "two", &block));
    EXPECT_EQ(Datas(q), (std::vector<std::string>{"old", "two", "other"}));
    // Other kinds that ignore the data keep the waiting request as it is.
    EXPECT_TRUE(AppendRequest(q, 1, ReqBlockRead, 1, "a", &block));
    EXPECT_FALSE(AppendRequest(q, 1, ReqBlockRead, 1, "b", &block));
    EXPECT_EQ(q.Tail->Data.str(), "a");
    ExpectConsistent(q);
}

TEST(RequestQueue, RemovingTheHeadMiddleAndTail) {
    RequestQueue q;
    for (std::uint8_t i = 1; i <= 4; ++i) AppendRead(q, 1, Addr(0, 0, i));
    RequestNode* second = q.Head->Next;
    EXPECT_EQ(RemoveRequest(q, second), q.Head);  // middle
    EXPECT_EQ(Datas(q), (std::vector<std::string>{Addr(0, 0, 1), Addr(0, 0, 3), Addr(0, 0, 4)}));
    RemoveRequest(q, q.Tail);
    RemoveRequest(q, q.Head);
    EXPECT_EQ(Datas(q), (std::vector<std::string>{Addr(0, 0, 3)}));
    ExpectConsistent(q);
    EXPECT_EQ(RemoveRequest(q, q.Head), nullptr);  // the only node: the cursor becomes empty
    EXPECT_EQ(q.Head, nullptr);
    EXPECT_EQ(q.Tail, nullptr);
    EXPECT_EQ(CountRequests(q), 0u);
    // A removed request may be appended again without being taken for a duplicate.
    EXPECT_TRUE(AppendRead(q, 1, Addr(0, 0, 3)));
    EXPECT_TRUE(AppendRead(q, 1, Addr(0, 0, 3)));
    EXPECT_FALSE(AppendRead(q, 1, Addr(0, 0, 3)));
}

TEST(RequestQueue, RotationMovesTheHeadBehindTheOthers) {
    RequestQueue q;
    AppendRead(q, 1, Addr(0, 0, 1));
    RotateQueue(q);  // a single node stays
    EXPECT_EQ(Datas(q), (std::vector<std::string>{Addr(0, 0, 1)}));
    AppendRead(q, 1, Addr(0, 0, 2));
    AppendRead(q, 1, Addr(0, 0, 3));
    RotateQueue(q);
    EXPECT_EQ(Datas(q), (std::vector<std::string>{Addr(0, 0, 2), Addr(0, 0, 3), Addr(0, 0, 1)}));
    ExpectConsistent(q);
    // The rotated node is no longer the head: an equal request is now a duplicate.
    EXPECT_FALSE(AppendRead(q, 1, Addr(0, 0, 1)));
}

TEST(RequestQueue, AddressIndexCountsEveryGroupOfAMergedRead) {
    RequestQueue q;
    const std::uint8_t a1[3] = {0, 32, 0}, a2[3] = {0, 32, 4}, a3[3] = {0, 32, 8};
    AppendRead(q, 3, Addr(0, 32, 0));
    AppendRead(q, 3, Addr(0, 32, 4));
    AppendRead(q, 3, Addr(0, 32, 8));
    MergeRequests(q, q.Head, q.Head->Next);
    MergeRequests(q, q.Head, q.Head->Next);
    ASSERT_EQ(CountRequests(q), 1u);
    EXPECT_EQ(q.Head->Data.str(), Addr(0, 32, 0) + Addr(0, 32, 4) + Addr(0, 32, 8));
    EXPECT_TRUE(IsAddressQueued(q, 3, a1));
    EXPECT_TRUE(IsAddressQueued(q, 3, a2));
    EXPECT_TRUE(IsAddressQueued(q, 3, a3));
    EXPECT_FALSE(IsAddressQueued(q, 4, a2));  // another station
    // The merged node is the head; a read of its whole data is appended, then a duplicate.
    EXPECT_TRUE(AppendRead(q, 3, q.Head->Data.str()));
    EXPECT_FALSE(AppendRead(q, 3, q.Head->Data.str()));
    EmptyQueue(q);
    EXPECT_FALSE(IsAddressQueued(q, 3, a1));
    EXPECT_FALSE(HasKindInRange(q, 16, 16));
}

TEST(RequestQueue, AddressIndexIgnoresOtherKindsAndPartialGroups) {
    RequestQueue q;
    const std::uint8_t a[3] = {1, 2, 3};
    AppendRequest(q, 1, ReqChannelWrite, 0, Addr(1, 2, 3) + "vvvv", nullptr);
    AppendRequest(q, 1, ReqChannelRead, 0, std::string("\x01\x02", 2), nullptr);
    EXPECT_FALSE(IsAddressQueued(q, 1, a));
    AppendRequest(q, 1, ReqChannelRead, 0, Addr(9, 9, 9) + Addr(1, 2, 3) + "x", nullptr);
    EXPECT_TRUE(IsAddressQueued(q, 1, a));
}

TEST(RequestQueue, KindRangeFollowsAppendsAndRemovals) {
    RequestQueue q;
    AppendRequest(q, 1, 241, 0x1000, "\xC0", nullptr);
    AppendRequest(q, 1, 16, 0, Addr(0, 0, 1), nullptr);
    EXPECT_TRUE(HasKindInRange(q, 240, 247));
    RemoveRequest(q, q.Head);
    EXPECT_FALSE(HasKindInRange(q, 240, 247));
    EXPECT_TRUE(HasKindInRange(q, 16, 16));
}

TEST(ReceiveQueue, OldestFirst) {
    ReceiveQueue q;
    ReceiveEntry e;
    EXPECT_FALSE(TakeReceived(q, e));
    InsertReceived(q, "frame1", "req1");
    InsertReceived(q, "frame2", "");
    ASSERT_TRUE(TakeReceived(q, e));
    EXPECT_EQ(e.Frame.view(), "frame1");
    EXPECT_EQ(e.Request.view(), "req1");
    FreeReceiveQueue(q);
    EXPECT_FALSE(TakeReceived(q, e));
}

// Two threads append, remove and count under the instance's lock at once; the thread
// sanitizer build checks that nothing escapes it.
TEST(RequestQueue, ConcurrentAppendsAndRemovalsUnderTheInstanceLock) {
    DriverContext ctx;
    constexpr int kRounds = 2000;
    std::thread host([&] {
        for (int i = 0; i < kRounds; ++i) {
            std::lock_guard lock(ctx.Lock);
            AppendRead(ctx.ReadQueue, static_cast<std::uint8_t>(1 + i % 5), Addr(0, static_cast<std::uint8_t>(i % 7), 1));
            AppendRequest(ctx.WriteQueue, 1, ReqChannelWrite, 0, Addr(0, 0, static_cast<std::uint8_t>(i)), nullptr);
        }
    });
    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i) {
            std::lock_guard lock(ctx.Lock);
            if (ctx.ReadQueue.Head && i % 3 == 0) RotateQueue(ctx.ReadQueue);
            if (ctx.ReadQueue.Head) RemoveRequest(ctx.ReadQueue, ctx.ReadQueue.Head);
            if (ctx.WriteQueue.Head) RemoveRequest(ctx.WriteQueue, ctx.WriteQueue.Head);
            (void)CountRequests(ctx.ReadQueue);
        }
    });
    host.join();
    worker.join();
    std::lock_guard lock(ctx.Lock);
    ExpectConsistent(ctx.ReadQueue);
    ExpectConsistent(ctx.WriteQueue);
    EmptyQueue(ctx.ReadQueue);
    EXPECT_TRUE(ctx.ReadQueue.ReadIndex.empty());
    EXPECT_TRUE(ctx.ReadQueue.EqualIndex.empty());
}
