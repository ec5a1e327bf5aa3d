// The stations' history ring over a real pseudo-terminal: the position items, the "QN" reads
// of the records along the ring and the write of a user's new read position, byte for byte.
#include <gtest/gtest.h>

#include "zksim/sim_line.h"

namespace zktest {
namespace {

zksim::LineDef OneStation() {
    zksim::LineDef line;
    zksim::StationDef s;
    s.address = 5;
    s.retranslation = 5;
    s.phone = "123";
    s.memoryIn.assign(100, {});
    s.memoryOut.assign(100, {});
    line.stations = {s};
    return line;
}

class HistoryRing : public ::testing::Test {
protected:
    void SetUp() override {
        zksim::SimOptions o = FastOptions();
        o.line = OneStation();
        line_ = std::make_unique<SimLine>(o);
        line_->Dial();
    }
    SimLine& line() { return *line_; }
    zksim::Simulator& sim() { return line_->sim; }
    // Sends the request body to station 5 and expects exactly `answerItems` back.
    void ExpectAnswer(const Bytes& body, const Bytes& answerItems) {
        const Bytes answer = RoutedAnswer(5, answerItems);
        EXPECT_EQ(zksim::HexText(line().Ask(RequestFrame(5, 1, 5, body), answer.size())), zksim::HexText(answer));
    }
    std::unique_ptr<SimLine> line_;
};

// The position query the driver sends for archive n: 0/0/1, 186/1/13, 186/1/14, 186/1/(n+4).
Bytes PositionQuery(int archive) {
    return B({'Q', 'q', 0x00, 0x00, 0x01, 0xBA, 0x01, 0x0D, 0xBA, 0x01, 0x0E, 0xBA, 0x01, archive + 4});
}

TEST_F(HistoryRing, AFreshStationAnswersTheQueryWithAnEmptyRing) {
    ExpectAnswer(PositionQuery(1), B({'Q', 'q', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ExpectAnswer(PositionQuery(8), B({'Q', 'q', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // there is no user 0: 186/1/4 is no history item of the station
    ExpectAnswer(PositionQuery(0), B({'Q', 'q', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xBE, 0xBE, 0xBE, 0xBE}));
}

TEST_F(HistoryRing, AppendedRecordsWrapTheRingAndAreReadBackAndAcknowledged) {
    ASSERT_TRUE(sim().SetHistoryTop(5, 49999));
    ASSERT_TRUE(sim().SetHistoryUserPos(5, 1, 49999));
    ASSERT_TRUE(sim().SetQqLong(5, 0xBA, 1, 13, 0x01020304));
    // three records: 49 999, 0 and 1; word 7, time stamps 1000, 1060, 1120, values 1.5 .. 3.5
    ASSERT_TRUE(sim().AppendHistory(5, 7, 1000, 1.5f, 3, 60));
    uint32_t top = 0, userPos = 0;
    ASSERT_TRUE(sim().HistoryTop(5, top));
    EXPECT_EQ(top, 2u);

    // Top 2 and UserPos 49 999 (4F C3 00 00)
    ExpectAnswer(PositionQuery(1),
                 B({'Q', 'q', 1, 0, 0, 0, 0x04, 0x03, 0x02, 0x01, 2, 0, 0, 0, 0x4F, 0xC3, 0x00, 0x00}));

    const Bytes r49999 = B({0x07, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x3F});
    const Bytes r0 = B({0x07, 0x00, 0x24, 0x04, 0x00, 0x00, 0x00, 0x00, 0x20, 0x40});
    const Bytes r1 = B({0x07, 0x00, 0x60, 0x04, 0x00, 0x00, 0x00, 0x00, 0x60, 0x40});
    // the last record of the ring at F7A116, then the first two at F00000
    ExpectAnswer(B({'Q', 'N', 0xF7, 0x16, 0xA1, 10}), B({'Q', 'N', 0xF7, 0x16, 0xA1, 10}) + r49999 + B({0}));
    ExpectAnswer(B({'Q', 'N', 0xF0, 0x00, 0x00, 20}), B({'Q', 'N', 0xF0, 0x00, 0x00, 20}) + r0 + r1 + B({0}));
    // the last value of the ring, then nothing beyond its end
    ExpectAnswer(B({'Q', 'N', 0xF7, 0x1C, 0xA1, 8}),
                 B({'Q', 'N', 0xF7, 0x1C, 0xA1, 8, 0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00}));

    // the write-back of user 1's new position (Top) is echoed and moves UserPos
    const Bytes write = B({'Q', 'Q', 0xBA, 0x01, 0x05, 0x02, 0x00, 0x00, 0x00});
    ExpectAnswer(write, write);
    ASSERT_TRUE(sim().HistoryUserPos(5, 1, userPos));
    EXPECT_EQ(userPos, 2u);
    ASSERT_TRUE(sim().HistoryUserPos(5, 2, userPos));
    EXPECT_EQ(userPos, 0u);  // the other users keep theirs
    ExpectAnswer(PositionQuery(1), B({'Q', 'q', 1, 0, 0, 0, 0x04, 0x03, 0x02, 0x01, 2, 0, 0, 0, 2, 0, 0, 0}));
}

TEST_F(HistoryRing, ScenarioCommandsMoveTopAndTheUsersPositions) {
    std::string error;
    ASSERT_TRUE(sim().RunScenario("history 5 top 49998\n"
                                  "history 5 user 2 49990\n"
                                  "history 5 append 4 86400 3600 -2 513\n",
                                  error))
        << error;
    uint32_t top = 0, userPos = 0;
    ASSERT_TRUE(sim().HistoryTop(5, top));
    EXPECT_EQ(top, 2u);
    ASSERT_TRUE(sim().HistoryUserPos(5, 2, userPos));
    EXPECT_EQ(userPos, 49990u);
    // record 49 998: word 513 (01 02 → 0x0201), 86 400 s (80 51 01 00), -2.0 (00 00 00 C0)
    ExpectAnswer(B({'Q', 'N', 0xF7, 0x0C, 0xA1, 10}),
                 B({'Q', 'N', 0xF7, 0x0C, 0xA1, 10, 0x01, 0x02, 0x80, 0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0xC0, 0}));
    // record 1: the fourth, 86 400 + 3 × 3600 = 97 200 s (B0 7B 01 00), value 1.0 (00 00 80 3F)
    ExpectAnswer(B({'Q', 'N', 0xF0, 0x0A, 0x00, 10}),
                 B({'Q', 'N', 0xF0, 0x0A, 0x00, 10, 0x01, 0x02, 0xB0, 0x7B, 0x01, 0x00, 0x00, 0x00, 0x80, 0x3F, 0}));

    struct Bad {
        const char* line;
        const char* error;
    };
    for (const Bad& c : {Bad{"history 5 user 9 0", "line 1: \"9\" is not a number from 1 to 8"},
                         Bad{"history 5 append 0 0 0 1", "line 1: \"0\" is not a number from 1 to 1000000"},
                         Bad{"history 5 append 2 0 60", "line 1: a value is missing"},
                         Bad{"history 5 bottom 3", "line 1: history takes append, top or user"}}) {
        EXPECT_FALSE(sim().RunScenario(c.line, error)) << c.line;
        EXPECT_EQ(error, c.error) << c.line;
    }
}

}  // namespace
}  // namespace zktest
