// The station protocol per frame: building a request, framing an answer from the line's bytes
// and decoding it into the data image (B, QQ, A and N answers).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "config/defaults.h"
#include "host/records.h"
#include "worker/decoder.h"
#include "worker/steps.h"

namespace {

std::string WithCheck(std::string bytes) {
    std::uint8_t x = 0;
    for (const char c : bytes) x ^= static_cast<std::uint8_t>(c);
    bytes.push_back(static_cast<char>(x));
    return bytes;
}

// Station 5 (index 2) answering driver 1 through the routing item.
std::string Routed(const std::string& items) {
    const std::string head = std::string("y") + '\0' + '\0' + '\x05';
    return WithCheck(std::string{'\x01', static_cast<char>(head.size() + items.size() + 1)} + head + items);
}

struct Line {
    zk::DriverContext ctx;
    std::string qqItems;   // the 50 items' addresses, as a read request carries them
    std::string qqValues;  // "Qq" and their values, as the answer carries them
    Line() {
        zk::ResetContext(ctx);
        ctx.Global.ADDRESS = 1;
        ctx.Log.LogEnabled = false;
        ctx.Global.PREFIX.assign("\xFF\xFF");
        for (int index : {1, 2}) {
            zk::StationRecord& s = *ctx.Stations[static_cast<std::size_t>(index)];
            s.Address = s.Retranslation = static_cast<std::uint8_t>(index == 1 ? 1 : 5);
            s.Name.assign("STANICE");
            s.DefAnalogInAddr = 256;
            s.NumAnalogIn = 8;
        }
        ctx.StationCount = 2;
        zk::StationRecord& s = *ctx.Stations[2];
        qqValues = "Qq";
        for (int i = 1; i <= 50; ++i) {
            auto item = std::make_unique<zk::ChannelItem>();
            item->Channel = static_cast<std::uint16_t>(2000 + i);
            item->Type = zk::QqLongint;
            item->Direction = zk::DirRead;
            item->Address[0] = 0;
            item->Address[1] = static_cast<std::uint8_t>(i);
            item->Address[2] = 0;
            s.Channels.push_back(std::move(item));
            qqItems += std::string{'\0', static_cast<char>(i), '\0'};
            qqValues += std::string{static_cast<char>(i), '\0', '\0', '\0'};
        }
    }
    std::string QqRequest() {
        zk::RequestNode r;
        r.Station = 2;
        r.Kind = zk::ReqChannelRead;
        r.Data.assign(qqItems);
        return zk::EncodeRequest(ctx, r).str();
    }
};

void BM_EncodeQqRead50(benchmark::State& state) {
    Line line;
    for (auto _ : state) benchmark::DoNotOptimize(line.QqRequest());
    state.SetItemsProcessed(state.iterations());  // frames
}
BENCHMARK(BM_EncodeQqRead50);

// Answers: 96 binary inputs ("B"), 50 QQ long integers, 8 analog words ("A") and the analog
// area as 8 station reals ("N" from DEF_ANALOG_IN_ADDR 256).
std::string Answer(Line& line, int kind) {
    switch (kind) {
        case 0: return Routed(std::string{'B', '\x00'} + std::string(12, '\x5A'));
        case 1: return Routed(line.qqValues);
        case 2: return Routed(std::string{'A', '\x01'} + std::string(16, '\x07'));
        default: return Routed(std::string{'N', '\x00', '\x01', '\x18'} + std::string(24, '\x41'));
    }
}

void BM_Decode(benchmark::State& state) {
    Line line;
    const std::string request = line.QqRequest();
    const std::string frame = Answer(line, static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(zk::DecodeMess(line.ctx, frame, request, 2));
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame.size()));
}
BENCHMARK(BM_Decode)->DenseRange(0, 3)->ArgName("B0_QQ1_A2_N3");

// The bytes of an answer through the receive framing into the receive queue, then decoded.
void BM_FrameAndDecode(benchmark::State& state) {
    Line line;
    const std::string request = line.QqRequest();
    const std::string bytes = line.ctx.Global.PREFIX.str() + Answer(line, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        line.ctx.Framing.LastTxMessage.assign(request);
        for (const char c : bytes) line.ctx.Line.Rx.push_back(static_cast<std::uint8_t>(c));
        int calls = 0;
        while (!zk::ReceiveFrame(line.ctx) && ++calls < 16) {
        }
        if (calls >= 16) {
            state.SkipWithError("the framing did not store the answer");
            break;
        }
        zk::ExtractDATA(line.ctx);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_FrameAndDecode)->DenseRange(0, 3)->ArgName("B0_QQ1_A2_N3");

}  // namespace
