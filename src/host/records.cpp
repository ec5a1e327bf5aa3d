#include "host/records.h"

#include "diag/status_view.h"
#include "diag/status_window.h"
#include "line/serial.h"
#include "worker/drv_thread.h"

namespace zk {

ChannelItem::ChannelItem() {
    Text.assign(std::string(32, ' '));
    Text.append('\0');
}

MemoryBlock::MemoryBlock() {
    for (auto& cell : Cells) cell.assign(std::string_view("\0\0\0\0", 4));
}

std::uint8_t ElementSize(std::uint8_t type) {
    switch (type) {
        case 1: return 1;
        case 2:
        case 3: return 2;
        case 4:
        case 5: return 4;
        case 6: return 3;
        default: return 0;
    }
}

bool* StatusFlagOfKind(StationRecord& s, int kind) {
    switch (kind) {
        case KindBiNewBi: return &s.BiFresh;
        case KindBiNewAi: return &s.AiFresh;
        case KindBiNewCt: return &s.CtcFresh;
        case KindBiNewMi: return &s.MemFresh;
        case KindBiNewErrControl: return &s.ControlError;
        case KindInActiveMessage: return &s.ActiveReport;
        default: return nullptr;
    }
}

DriverContext::DriverContext() = default;
DriverContext::~DriverContext() = default;

std::int32_t CentisecondsOfDay(const DriverContext& ctx) { return CentisecondsOfDay(ctx.Clock.now()); }

StationRecord* DefinedStation(DriverContext& ctx, int index) {
    if (index < 1 || index > ctx.StationCount || index > kMaxStations) return nullptr;
    return ctx.Stations[static_cast<std::size_t>(index)].get();
}

DriverRecord::DriverRecord() = default;
DriverRecord::~DriverRecord() = default;

}  // namespace zk
