#include "host/commands.h"

#include <cstdio>
#include <cstring>

#include "diag/log.h"

namespace zk {

void StartMemoryBlockRead(DriverContext& ctx) {
    if (ctx.Table.MbRequestStation == 0 || ctx.Table.MbRequestStation > ctx.StationCount) return;
    static constexpr std::int32_t kKinds[2][3] = {{ReqSamples1, ReqSamples2, ReqSamples3},
                                                  {ReqSamplesAlt1, ReqSamplesAlt2, ReqSamplesAlt3}};
    ctx.Table.MbStation = ctx.Table.MbRequestStation;
    ctx.Table.MbActive = true;
    const int row = ctx.Table.MbKindIndex >= 1 && ctx.Table.MbKindIndex <= 3 ? ctx.Table.MbKindIndex - 1 : 0;
    const std::int32_t kind = kKinds[ctx.Table.MbAltKinds.load() ? 1 : 0][row];
    for (int i = 1; i <= 88; ++i)
        AppendRequest(ctx.ReadQueue, ctx.Table.MbStation, kind, static_cast<std::uint16_t>(0x8000 + (i - 1) * 186), {},
                      nullptr);
    if (std::uint8_t* b = ctx.HostBuffer) {
        const std::uint32_t rowCounter = 0, readState = 1;
        std::memcpy(b + 8, &rowCounter, sizeof rowCounter);
        std::memcpy(b + 24, &readState, sizeof readState);
    }
}

std::string MemoryBlockFileName(const DriverContext& ctx) {
    if (ctx.Table.MbStation < 1 || ctx.Table.MbStation > kMaxStations || !ctx.Table.TextTable) return {};
    const StationRecord* s = ctx.Stations[ctx.Table.MbStation].get();
    if (!s) return {};
    char code[8];
    const unsigned b = s->Address;
    if (b >= 100) std::snprintf(code, sizeof code, "%c%u", static_cast<char>('A' + (b - 100) / 10), (b - 100) % 10);
    else std::snprintf(code, sizeof code, "%02u", b);
    const TextRow& row = ctx.Table.TextTable[s->Channels.empty() ? 0 : 1];
    char tail[32];
    std::snprintf(tail, sizeof tail, "%u%u%02u%02u.CUC", static_cast<unsigned>(ctx.Table.MbKindIndex) % 10,
                  row.State[0] % 10u, static_cast<unsigned>(row.State[1]), static_cast<unsigned>(row.State[2]));
    return ctx.Global.CUC_PATH.str() + code + tail;
}

void SaveMemoryBlockFile(DriverContext& ctx) {
    ctx.Table.MbFileFlag = false;
    const std::string name = MemoryBlockFileName(ctx);
    if (name.empty()) return;
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return;
    bool complete = true;
    for (int r = 0; r < kTableRows && complete; ++r) {
        const TextRow& row = ctx.Table.TextTable[static_cast<std::size_t>(r)];
        std::uint8_t record[31] = {};
        std::memcpy(record, row.State, 7);
        for (std::size_t c = 0; c < 8; ++c)
            for (std::size_t k = 0; k < 3 && k < row.Cells[c].size(); ++k) record[7 + 3 * c + k] = row.Cells[c].byte(k);
        complete = std::fwrite(record, 1, sizeof record, f) == sizeof record;
    }
    // A write error may only show when the buffered rows reach the file.
    if (std::fclose(f) != 0) complete = false;
    ctx.Table.MbFileFlag = complete;
}

void InjectTestValue(DriverContext& ctx) {
    const int n = ctx.TestChannel;
    StationRecord* s = DefinedStation(ctx, n / 500 + 1);
    if (!s) return;
    const int index = n % 500;
    if (index >= 1 && index <= 96) s->BinaryIn[static_cast<std::size_t>(index)] = ctx.TestValue != 0.0;
    else if (index >= 193 && index <= 256) s->Analog[static_cast<std::size_t>(index - 192)] = ctx.TestValue;
}

}  // namespace zk
