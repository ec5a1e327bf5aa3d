// Any channel, any type, any 8 value bytes: handled or ignored, never a crash; and the host's
// calls against a thread that writes the station image the way the decoder does.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

#include "history/history.h"
#include "host_fixture.h"
#include "protocol/encodings.h"
#include "support/library.h"

using namespace zk;
using namespace zktest;

namespace {

const std::uint64_t kValues[] = {
    0,
    1,
    0xFF,
    ~0ull,
    0x8000000000000000ull,
    Bits(std::numeric_limits<double>::quiet_NaN()),
    Bits(-std::numeric_limits<double>::infinity()),
    Bits(1e300),
    Bits(-1e300),
    Bits(std::numeric_limits<double>::denorm_min()),
    Bits(std::numeric_limits<float>::quiet_NaN()),
    Bits(12345.678),
};
const std::uint32_t kTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 255, 0x80000000u, 0xFFFFFFFFu};

bool Interesting(std::uint32_t ch) {
    return ch < 1100 || (ch >= 2990 && ch <= 3010) || (ch >= 59990 && ch <= 60300) || ch >= 65390;
}

// Every host call on every channel number with every type: a text pointer that is null or
// points to a buffer large enough for the longest text.
template <typename Get, typename Out, typename In>
void Sweep(Get get, Out output, In input) {
    std::vector<char> text(512);
    for (std::uint32_t ch = 0; ch <= 0x1FFFF; ++ch) {  // the high bits of the number do not count
        if (!Interesting(ch & 0xFFFF) && ch % 97 != 0) continue;
        for (std::uint32_t type : kTypes) {
            ZkHostValue v{};
            v.type = static_cast<std::int32_t>(type);
            get(ch, &v);
            char* p = text.data();
            std::memcpy(v.value, &p, sizeof p);
            get(ch, &v);
        }
        input(ch);
        for (std::uint32_t type : {2u, 3u, 4u, 5u, 7u, 8u, 10u, 11u, 0xFFFFFFFFu})
            for (std::uint64_t value : kValues) {
                if ((ch & 0xFFFF) == 976 || (ch & 0xFFFF) == 1476) continue;  // dialling is tried below, once
                output(ch, type, value);
            }
    }
}

}  // namespace

TEST(RequestRobustness, AnInstanceThatNeverRanInitIgnoresEverything) {
    auto& api = Library();
    void* driver = api.MakeDriver();
    ASSERT_NE(driver, nullptr);
    Sweep([&](std::uint32_t ch, ZkHostValue* v) { api.GetInput(driver, ch, v); },
          [&](std::uint32_t ch, std::uint32_t t, std::uint64_t v) { api.OutputRequest(driver, ch, t, v); },
          [&](std::uint32_t ch) { api.InputRequest(driver, ch); });
    api.GetInput(driver, 1, nullptr);
    api.GetInput(nullptr, 1, nullptr);
    api.OutputRequest(nullptr, 65531, 2, 1);
    api.InputRequest(nullptr, 1);
    api.DisposeDriver(driver);
}

TEST(RequestRobustness, AConfiguredInstanceHandlesOrIgnoresEverything) {
    HostFixture f;
    f.Standard(1, 96, 96, 64, 48, 45, 100);
    f.Standard(2, 96, 96, 64, 48, 45, 100);
    f.ctx.Stations[2]->OnLine = true;
    for (std::uint8_t t = 1; t <= 7; ++t) f.Item(1, static_cast<std::uint16_t>(1000 + t), DirBidir, 0, 0, t, t);
    f.Item(2, 1008, DirBidir, 0, 0, 8, 99);  // an item type no file gives
    f.Block(2, 3000, 3001, "1234569", "3333333");  // and an element type no file gives
    f.Station(2).Hdb = std::make_unique<std::uint8_t[]>(kHdbBytes);
    f.ctx.History.HdbStation = 2;
    f.Build();
    Sweep([&](std::uint32_t ch, ZkHostValue* v) { GetInput(*f.rec, static_cast<std::uint16_t>(ch), *v); },
          [&](std::uint32_t ch, std::uint32_t t, std::uint64_t v) { OutputRequest(*f.rec, static_cast<std::uint16_t>(ch), t, v); },
          [&](std::uint32_t ch) { InputRequest(*f.rec, static_cast<std::uint16_t>(ch)); });
    OutputRequest(*f.rec, 976, HostBoolean, 1);
    OutputRequest(*f.rec, 976, HostBoolean, 0);
    // Whatever was written, the images hold no NaN or infinity where reals are kept.
    for (int n = 1; n <= 2; ++n) {
        const StationRecord& s = *f.ctx.Stations[static_cast<std::size_t>(n)];
        for (const auto& m : s.MemoryOut) EXPECT_TRUE(std::isfinite(m.Value));
        for (const auto& c : s.Counters) EXPECT_TRUE(std::isfinite(c.Value));
        for (double a : s.Analog) EXPECT_TRUE(std::isfinite(a));
    }
    EXPECT_TRUE(std::isfinite(f.ctx.TestValue));
    EXPECT_TRUE(std::isfinite(f.ctx.SentCount.load()));
    std::remove(HistoryFilePath(f.ctx.DriverName.view(), 2).c_str());  // the sweep's save channel wrote it
}

// The host reads, requests and writes while another thread writes the station image, the
// items and the table under the instance's lock, as the decoder does. Run under the thread
// sanitizer this shows that no value is read while it is being written.
TEST(RequestConcurrency, HostCallsAgainstADecoderWritingTheImage) {
    HostFixture f;
    StationRecord& s = f.Standard(1, 96, 96, 64, 48, 45, 100);
    ChannelItem& item = f.Item(1, 1200, DirBidir, 0, 32, 0, QqReal);
    ChannelItem& text = f.Item(1, 1201, DirRead, 0, 40, 0, QqString);
    MemoryBlock& block = f.Block(1, 3000, 3001, "6666", "3333");
    s.OnLine = true;
    f.Build();

    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread decoder([&] {
        for (int k = 0; !stop.load(); ++k) {
            std::lock_guard lock(f.ctx.Lock);
            const double x = k;
            for (std::size_t i = 1; i <= 96; ++i) s.BinaryIn[i] = (k + i) % 2 != 0;
            for (std::size_t i = 1; i <= 64; ++i) s.Analog[i] = x + static_cast<double>(i);
            for (std::size_t i = 1; i <= 48; ++i) s.Counters[i].Value = x;
            for (std::size_t i = 1; i <= 45; ++i) s.MemoryIn[i].Value = x;
            s.RequestCount = static_cast<std::uint32_t>(k);
            s.AwaitingAnswer = k % 2 != 0;
            std::snprintf(s.DisplayLines[0].data(), 256, "line %d", k);
            item.Value = static_cast<float>(k);
            text.Text.assign(std::string(33, static_cast<char>('A' + k % 26)));
            for (auto& cell : block.Cells) cell.assign(FloatToStationReal(x).view());
            f.ctx.Table.TextTable[0].Cells[0].assign(FloatToStationReal(x).view());
            f.ctx.SentCount = x;
            if (f.ctx.ReadQueue.Head) RemoveRequest(f.ctx.ReadQueue, f.ctx.ReadQueue.Head);
            if (f.ctx.WriteQueue.Head) RemoveRequest(f.ctx.WriteQueue, f.ctx.WriteQueue.Head);
            rounds.fetch_add(1);
        }
    });

    char buffer[300];
    for (int round = 0; round < 3000; ++round) {
        for (std::uint16_t ch : std::initializer_list<std::uint16_t>{1, 50, 193, 200, 257, 405, 481, 1200, 3001, 60010, 486, 490}) {
            ZkHostValue v = HostValue(ch == 1 || ch == 50 ? HostBoolean : HostDouble);
            GetInput(*f.rec, ch, v);
            if (ch == 193) {
                // The value is one that the writer stored whole: k + 1 for some k.
                const double a = As<double>(v);
                EXPECT_EQ(a, std::floor(a));
            }
        }
        for (std::uint16_t ch : std::initializer_list<std::uint16_t>{456, 1201}) {
            ZkHostValue v = HostValue(HostText);
            char* p = buffer;
            std::memcpy(v.value, &p, sizeof p);
            GetInput(*f.rec, ch, v);
        }
        InputRequest(*f.rec, 1200);
        InputRequest(*f.rec, 1201);
        OutputRequest(*f.rec, 1200, HostDouble, Bits(static_cast<double>(round)));
        OutputRequest(*f.rec, 305, HostDouble, Bits(static_cast<double>(round)));
        OutputRequest(*f.rec, 3001, HostDouble, Bits(static_cast<double>(round)));
    }
    while (rounds.load() < 10) std::this_thread::yield();
    stop = true;
    decoder.join();
}
