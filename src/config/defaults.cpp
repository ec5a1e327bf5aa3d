#include "config/defaults.h"

#include <cstdio>
#include <cstring>

namespace zk {

Str255 ParFileNameFromHost(std::int32_t length, const char* characters) {
    Str255 name;
    if (!characters || length <= 0) return name;
    for (std::int32_t i = 0; i < length && name.size() < 255 && characters[i] != '\0'; ++i) name.append(characters[i]);
    return name;
}

namespace {

std::unique_ptr<StationRecord> NewStation(int n) {
    auto s = std::make_unique<StationRecord>();
    char name[16];
    std::snprintf(name, sizeof name, "NAME_%d", n);
    s->Name.assign(name);
    return s;
}

}  // namespace

void ResetStations(StationSlots& stations) {
    for (int n = 1; n <= kMaxStations; ++n) stations[static_cast<std::size_t>(n)] = NewStation(n);
}

void PrepareStations(StationSlots& stations) {
    for (int n = 1; n <= kMaxStations; ++n) {
        StationRecord* s = stations[static_cast<std::size_t>(n)].get();
        if (!s) continue;
        s->BinaryIn.fill(false);
        s->BinaryOut.fill(false);
        s->Analog.fill(0.0);
        for (std::size_t i = 1; i <= 45; ++i) s->MemoryIn[i].Value = 0.0;
        for (std::size_t i = 1; i <= 100; ++i) s->MemoryOut[i].Value = 0.0;
        for (std::size_t i = 1; i <= 48; ++i) {
            s->Counters[i].StartValue = s->Counters[i].Value;
            s->Counters[i].RawCount = 0;
        }
        s->RequestCount = 0;
        s->TimeoutCount = 0;
        s->ErrorReportCount = 0;
        s->ErrorCount = 0;
        s->SleepLeft = 0.0;
        s->CallCode = 0;
        for (int line = 0; line < 4; ++line) {
            auto& text = s->DisplayLines[static_cast<std::size_t>(line)];
            text.fill('\0');
            std::snprintf(text.data(), 81, "<line %d>", line + 1);
        }
        s->WordAfterBlocks = 0;
    }
}

void ApplyStandardNumbering(StationRecord& s, int n) {
    const auto a = static_cast<std::uint16_t>((n - 1) * 500);
    auto set = [&](int kind, int offset) { s.BlockBase[static_cast<std::size_t>(kind)] = static_cast<std::uint16_t>(a + offset); };
    set(KindBinaryIn, 1);
    set(KindBinaryOut, 97);
    set(KindAnalog, 193);
    set(KindCounter, 257);
    set(KindMemoryOut, 305);
    set(KindMemoryIn, 405);
    set(KindErrorNoAnswer, 450);
    set(KindErrorInMess, 451);
    set(KindSilenceTime, 452);
    set(KindSleepTime, 453);
    set(KindErrCount, 454);
    set(KindVideo, 456);
    for (int kind = KindOutReadAiMorvel; kind <= KindOutWriteAllBoMo; ++kind) set(kind, 460 + (kind - KindOutReadAiMorvel));
    set(KindMsgCounter, 481);
    s.BlockBase[KindNameChannel] = 0;
    s.BlockBase[KindCallCode] = 0;
}

}  // namespace zk
