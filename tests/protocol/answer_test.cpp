// The parse of a station's frame: frames and the typed answers read from them, shown as one
// line of text each, with where and why the walk ended and the acknowledgement asked for.
#include "protocol/answer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <type_traits>
#include <variant>

#include "protocol/encodings.h"
#include "protocol_fixture.h"

using namespace zk;
using namespace zktest;

namespace {

std::string H(std::string_view bytes) {
    std::string s;
    char buf[3];
    for (const char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned>(static_cast<std::uint8_t>(c)));
        s += buf;
    }
    return s;
}

std::string H16(unsigned w) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "%04x", w & 0xFFFFu);
    return buf;
}

std::string Num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

// One item as text: its letter and what it carries.
std::string Describe(const AnswerItem& item) {
    return std::visit(
        [](const auto& it) -> std::string {
            using T = std::decay_t<decltype(it)>;
            std::string s;
            if constexpr (std::is_same_v<T, AnalogItem>) {
                s = "A[";
                for (const AnalogWord& w : it.words) s += std::to_string(w.input) + "=" + H16(w.raw) + ",";
                s += "]";
            } else if constexpr (std::is_same_v<T, BinaryItem>) {
                s = it.inputs ? "B[" : "b[";
                for (const BitGroup& g : it.groups) s += std::to_string(g.group) + ":" + H(std::string(1, static_cast<char>(g.bits))) + ",";
                s += "]";
            } else if constexpr (std::is_same_v<T, CounterItem>) {
                s = it.reset ? "C reset[" : "C[";
                for (const std::uint8_t g : it.groups) s += std::to_string(g) + ",";
                s += "]";
                for (const CounterWord& w : it.counts) s += std::to_string(w.counter) + "=" + H16(w.raw) + ",";
            } else if constexpr (std::is_same_v<T, ErrorReportItem>) {
                s = "E" + std::to_string(it.code);
            } else if constexpr (std::is_same_v<T, ActiveReportItem>) {
                s = "H";
            } else if constexpr (std::is_same_v<T, ControlErrorItem>) {
                s = "X";
            } else if constexpr (std::is_same_v<T, ConstantsItem>) {
                s = it.read ? "K[" : "k[";
                for (const ConstantValue& v : it.values) s += std::to_string(v.output) + "=" + Num(v.value) + ",";
                s += "]";
            } else if constexpr (std::is_same_v<T, MemoryReadItem>) {
                s = "N" + H16(it.address) + "[" + H(it.data) + "]";
            } else if constexpr (std::is_same_v<T, MemoryWrittenItem>) {
                s = "n" + H16(it.address);
            } else if constexpr (std::is_same_v<T, PasswordItem>) {
                s = "QH1";
            } else if constexpr (std::is_same_v<T, BlockDataItem>) {
                s = "QN" + std::to_string(it.kind) + "@" + H16(it.address) + "[" + std::to_string(it.data.size()) + "]";
                if (it.samples) s += "rows" + std::to_string(it.samples->front().row) + "-" + std::to_string(it.samples->back().row);
            } else if constexpr (std::is_same_v<T, QqWrittenItem>) {
                s = "QQ";
            } else if constexpr (std::is_same_v<T, QqValuesItem>) {
                s = "Qq[";
                for (const QqValue& v : it.values)
                    s += H(std::string_view(reinterpret_cast<const char*>(v.bytes.data()), 4)) + (v.invalid ? "!" : "") + ",";
                s += "]";
            }
            return s;
        },
        item);
}

std::string Describe(const Answer& a) {
    std::string s;
    for (const AnswerItem& item : a.items) s += Describe(item) + " ";
    switch (a.stop) {
        case ParseStop::FrameEnd: s += "| end"; break;
        case ParseStop::LastItem: s += "| last@" + std::to_string(a.stopAt); break;
        case ParseStop::UnknownLetter: s += "| unknown@" + std::to_string(a.stopAt); break;
        case ParseStop::Truncated: s += "| truncated@" + std::to_string(a.stopAt); break;
    }
    if (!a.acknowledgement.empty()) s += " ack=" + H(a.acknowledgement);
    return s;
}

// A frame without routing item from station `address` with the given items.
std::string Plain(std::uint8_t address, const std::string& items) {
    return WithCheck(B({address, static_cast<int>(items.size() + 1)}) + items);
}

// A frame with a routing item from station `sender` to `target`, then the items.
std::string Routed(std::uint8_t target, std::uint8_t sender, const std::string& items, char letter = 'y') {
    const std::string head = std::string(1, letter) + B({0x00, 0x00, sender});
    return WithCheck(B({target, static_cast<int>(head.size() + items.size() + 1)}) + head + items);
}

std::string Words(std::initializer_list<unsigned> words) {
    std::string s;
    for (const unsigned w : words) s += B({static_cast<int>(w >> 8), static_cast<int>(w & 0xFF)});
    return s;
}

std::string Real(double v) { return std::string(FloatToStationReal(v).view()); }

// A 186-byte sample block: six rows of 31 bytes, each row's first byte its number.
std::string SampleData() {
    std::string data;
    for (int j = 0; j < 6; ++j) {
        std::string row(31, '\0');
        row[0] = static_cast<char>(0x10 + j);
        data += row;
    }
    return data;
}

struct Case {
    const char* what;
    std::string frame;
    std::string answer;
};

}  // namespace

TEST(ParseAnswer, FramesAndTheirAnswers) {
    const std::string w8 = Words({0x8FFF, 0x0100, 0x0010, 0x807F, 0x00FF, 0x0000, 0x8000, 0x0033});
    const std::string ctWords = Words({1, 2, 3, 4, 5, 6, 7, 0xFFFF});
    const std::string qn = B({'Q', 'N', 72, 0xBA, 0x80, 186}) + SampleData() + B({0});  // 32768 + 186
    const Case cases[] = {
        {"the documented binary-input frame", B({0x01, 0x04, 0x42, 0x01, 0x0F, 0x49}), "B[0:0f,] | end"},
        {"binary groups by mask", Plain(1, B({'B', 0x05, 0x80, 0x01})), "B[0:80,2:01,] | end"},
        {"all twelve binary groups", Plain(1, B({'B', 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})),
         "B[0:01,1:02,2:03,3:04,4:05,5:06,6:07,7:08,8:09,9:0a,10:0b,11:0c,] | end"},
        {"outputs echoed, then inputs", Plain(1, B({'b', 0x01, 0xFF, 'B', 0x01, 0x00})), "b[0:ff,] B[0:00,] | end"},
        {"analog words of group 1", Plain(1, B({'A', 0x01}) + w8),
         "A[1=8fff,2=0100,3=0010,4=807f,5=00ff,6=0000,7=8000,8=0033,] | end"},
        {"analog words of group 8", Plain(1, B({'A', 0x80}) + w8),
         "A[57=8fff,58=0100,59=0010,60=807f,61=00ff,62=0000,63=8000,64=0033,] | end"},
        {"counters read and reset carry no data", Plain(1, B({'C', 0x85, 'L', 0})), "C reset[0,2,] | end"},
        {"counter counts of group 2", Plain(1, B({'C', 0x02}) + ctWords),
         "C[1,]9=0001,10=0002,11=0003,12=0004,13=0005,14=0006,15=0007,16=ffff, | end"},
        {"two error reports", Plain(1, B({'E', 9, 'E', 0})), "E9 E0 | end"},
        {"constants read and written", Plain(1, B({'K', 0x05}) + Real(2.5) + Real(-1.0) + B({'k', 0x01}) + Real(0.5)),
         "K[1=2.5,3=-1,] k[1=0.5,] | end"},
        {"memory read", Plain(1, B({'N', 0x00, 0x02, 6, 1, 2, 3, 4, 5, 6})), "N0200[010203040506] | end"},
        {"memory read of no bytes", Plain(1, B({'N', 0x34, 0x12, 0, 'E', 1})), "N1234[] E1 | end"},
        {"items walked over and a write confirmed",
         Plain(1, B({'n', 0x34, 0x12, 2, 0xAA, 0xBB, 'Q', '!', '1', 'Q', 'H', '0', 'Q', 'H', '1', 1, 2, 3, 4, 5, 'R', 0,
                     'B', 0x01, 0x01})),
         "n1234 QH1 B[0:01,] | end"},
        {"an unknown letter ends the walk", Plain(1, B({'Z', 'B', 0x01, 0x01})), "| unknown@3"},
        {"an unknown Q sub-letter ends the walk", Plain(1, B({'B', 0x01, 0x01, 'Q', 'Z', 0})), "B[0:01,] | unknown@6"},
        {"an item one byte short ends the walk", Plain(1, B({'B', 0x01, 0x01, 'B', 0x03, 0x01})), "B[0:01,] | truncated@6"},
        {"a letter without its mask", Plain(1, B({'A'})), "| truncated@3"},
        {"an analog item one word short", Plain(1, B({'A', 0x01}) + w8.substr(0, 14)), "| truncated@3"},
        {"a memory read longer than the frame", Plain(1, B({'N', 0x00, 0x02, 7, 1, 2, 3, 4, 5, 6})), "| truncated@3"},
        {"a sample block", Plain(1, qn), "QN72@80ba[186]rows7-12 | end"},
        {"a block off the sample grid", Plain(1, B({'Q', 'N', 50, 0x00, 0x90, 3, 7, 8, 9, 0})), "QN50@9000[3] | end"},
        {"a block below the sample grid", Plain(1, B({'Q', 'N', 72, 0x46, 0x7F, 186}) + SampleData() + B({0})),
         "QN72@7f46[186]rows-5-0 | end"},
        {"QQ values to the check byte, the short tail dropped",
         Plain(1, B({'Q', 'q', 0x78, 0x56, 0x34, 0x12, 0xBE, 0xBE, 0xBE, 0xBE, 1, 2, 3})), "Qq[78563412,bebebebe!,] | last@3"},
        {"QQ values of no bytes", Plain(1, B({'Q', 'x'})), "Qq[] | last@3"},
        {"QQ written ends the walk", Plain(1, B({'Q', 'Q', 'B', 0x01, 0x01})), "QQ | last@3"},
        {"no items", Plain(1, ""), "| end"},
        {"no frame", "", "| end"},
        {"a routed frame's routing item", Routed(1, 5, B({'B', 0x01, 0x0F})), "B[0:0f,] | end"},
        {"a routing item cut short", B({0x01, 0x02, 'y', 0x00}), "| truncated@3"},
    };
    for (const Case& c : cases) EXPECT_EQ(Describe(ParseAnswer(c.frame)), c.answer) << c.what;
}

TEST(ParseAnswer, ReportsAskForAnAcknowledgement) {
    // A routed frame: back to the sender with the routing item turned round and the items echoed.
    const std::string routed = Routed(1, 5, B({'H', 'B', 0x01, 0x01}), 'Y');
    std::string ack = B({0x00, 0, 'y', 0, 5, 0}) + B({'H', 'B', 0x01, 0x01});
    ack[1] = static_cast<char>(ack.size() - 1);
    ack = WithCheck(ack);
    EXPECT_EQ(Describe(ParseAnswer(routed)), "H B[0:01,] | end ack=" + H(ack));

    // A plain frame: the frame itself.
    const std::string plain = Plain(1, B({'X', 'L', 0}));
    EXPECT_EQ(Describe(ParseAnswer(plain)), "X | end ack=" + H(plain));

    // No report, no acknowledgement, even with a 'Y' routing item.
    EXPECT_EQ(Describe(ParseAnswer(Routed(1, 5, B({'E', 3}), 'Y'))), "E3 | end");
}

TEST(ParseAnswer, ViewsStayInsideTheFrame) {
    const std::string frame = Plain(1, B({'N', 0x00, 0x02, 3, 1, 2, 3, 'Q', 'N', 72, 0x00, 0x80, 2, 9, 9}));
    const Answer a = ParseAnswer(frame);
    ASSERT_EQ(a.items.size(), 2u);
    const auto& n = std::get<MemoryReadItem>(a.items[0]);
    EXPECT_EQ(n.data.data(), frame.data() + 6);
    const auto& q = std::get<BlockDataItem>(a.items[1]);
    EXPECT_EQ(q.data.data(), frame.data() + 15);
    EXPECT_EQ(q.data.size(), 2u);
    EXPECT_FALSE(q.samples.has_value());
}

TEST(ParseAnswer, SampleRowsReadTheirStateAndCells) {
    std::string data = SampleData();
    // Row 2: BCD state 12 34 56 01 02 03, a raw seventh byte, and the cells 1..24.
    std::string row = B({0x12, 0x34, 0x56, 0x01, 0x02, 0x03, 0xA7});
    for (int k = 1; k <= 24; ++k) row.push_back(static_cast<char>(k));
    data.replace(31, 31, row);
    const std::string frame = Plain(1, B({'Q', 'N', 72, 0x00, 0x80, 186}) + data + B({0}));
    const Answer a = ParseAnswer(frame);
    ASSERT_EQ(a.items.size(), 1u);
    const auto& block = std::get<BlockDataItem>(a.items[0]);
    ASSERT_TRUE(block.samples.has_value());
    const SampleRow& r = (*block.samples)[1];
    EXPECT_EQ(r.row, 2);
    EXPECT_EQ(r.state, (std::array<std::uint8_t, 7>{12, 34, 56, 1, 2, 3, 0xA7}));
    for (std::size_t c = 0; c < 8; ++c)
        EXPECT_EQ(r.cells[c], B({static_cast<int>(3 * c + 1), static_cast<int>(3 * c + 2), static_cast<int>(3 * c + 3)}))
            << c;
}
