#include "config/station.h"

#include <string>

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

StationRecord* DefinedStation(const StationSlots& stations, int count, int index) {
    if (index < 1 || index > count || index > kMaxStations) return nullptr;
    return stations[static_cast<std::size_t>(index)].get();
}

}  // namespace zk
