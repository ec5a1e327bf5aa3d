#include "host/channels.h"

#include <algorithm>

namespace zk {

namespace {

constexpr std::size_t kChannelNumbers = 65536;

// The single numbers between the point ranges and the display range, and after it.
constexpr int kSinglesBeforeVideo[] = {KindErrorNoAnswer, KindMsgCounter, KindErrorInMess,
                                       KindSilenceTime,   KindSleepTime,  KindErrCount};
constexpr int kRangeOrder[] = {KindBinaryIn, KindBinaryOut, KindAnalog, KindCounter, KindMemoryOut, KindMemoryIn};

const ChannelIndex& Lookup(DriverContext& ctx) {
    if (!ctx.ChannelLookup) BuildChannelIndex(ctx);
    return *ctx.ChannelLookup;
}

}  // namespace

int RangeLength(const StationRecord& s, int kind) {
    switch (kind) {
        case KindBinaryIn: return std::min<int>(s.NumBinarIn, static_cast<int>(s.BinaryIn.size()) - 1);
        case KindBinaryOut: return std::min<int>(s.NumBinarOut, static_cast<int>(s.BinaryOut.size()) - 1);
        case KindAnalog: return std::min<int>(s.NumAnalogIn, static_cast<int>(s.Analog.size()) - 1);
        case KindCounter: return std::min<int>(s.NumCounterIn, static_cast<int>(s.Counters.size()) - 1);
        case KindMemoryIn: return std::min<int>(s.NumMemoryIn, static_cast<int>(s.MemoryIn.size()) - 1);
        case KindMemoryOut: return std::min<int>(s.NumMemoryOut, static_cast<int>(s.MemoryOut.size()) - 1);
        case KindVideo: return static_cast<int>(s.DisplayLines.size());
        default: return 0;
    }
}

void BuildChannelIndex(DriverContext& ctx) {
    auto index = std::make_shared<ChannelIndex>();
    index->ParamSlot.assign(kChannelNumbers, 0);
    index->ImplicitSlot.assign(kChannelNumbers, 0);

    const int count = std::min<int>(ctx.StationCount, kMaxStations);
    for (int n = 1; n <= count; ++n) {
        StationRecord* s = ctx.Stations[static_cast<std::size_t>(n)].get();
        if (!s) continue;

        // Tier 1: the first item of the lowest station keeps the number.
        for (const auto& item : s->Channels) {
            std::uint32_t& slot = index->ParamSlot[item->Channel];
            if (slot != 0) continue;
            index->Params.push_back({n, item.get()});
            slot = static_cast<std::uint32_t>(index->Params.size());
        }

        // Tier 3: claiming in search order keeps the first hit of the lowest station.
        auto claim = [&](long number, int kind, int i, MemoryBlock* block) {
            if (number < 0 || number >= static_cast<long>(kChannelNumbers)) return;
            std::uint32_t& slot = index->ImplicitSlot[static_cast<std::size_t>(number)];
            if (slot != 0) return;
            index->Implicit.push_back({n, kind, i, block});
            slot = static_cast<std::uint32_t>(index->Implicit.size());
        };
        auto range = [&](int kind) {
            const long base = s->BlockBase[static_cast<std::size_t>(kind)];
            const int length = RangeLength(*s, kind);
            for (int i = 1; i <= length; ++i) claim(base + i - 1, kind, i, nullptr);
        };
        auto single = [&](int kind) { claim(s->BlockBase[static_cast<std::size_t>(kind)], kind, 1, nullptr); };

        for (int kind : kRangeOrder) range(kind);
        for (int kind : kSinglesBeforeVideo) single(kind);
        range(KindVideo);
        for (int kind = KindOutReadAiMorvel; kind <= KindOutWriteAllBoMo; ++kind) single(kind);
        single(KindNameChannel);
        single(KindCallCode);
        for (const auto& block : s->MemoryBlocks) {
            claim(block->ChannelRead, KindMemoryBlockRead, 1, block.get());
            const long first = block->Channel;
            for (std::size_t k = 1; k <= block->Types.size(); ++k)
                claim(first + static_cast<long>(k) - 1, KindMemoryElement, static_cast<int>(k), block.get());
        }
    }
    ctx.ChannelLookup = std::move(index);
}

void ClearChannelIndex(DriverContext& ctx) { ctx.ChannelLookup.reset(); }

bool FindChannel(DriverContext& ctx, std::uint16_t channel, ParamChannel& out) {
    const ChannelIndex& index = Lookup(ctx);
    const std::uint32_t slot = index.ParamSlot[channel];
    if (slot == 0) return false;
    out = index.Params[slot - 1];
    return true;
}

bool ResolveStationChannel(DriverContext& ctx, std::uint16_t channel, StationChannel& out) {
    const ChannelIndex& index = Lookup(ctx);
    const std::uint32_t slot = index.ImplicitSlot[channel];
    if (slot == 0) return false;
    out = index.Implicit[slot - 1];
    return true;
}

}  // namespace zk
