#include "config/defaults.h"

#include <cstdio>
#include <cstring>

#include "base/texts.h"
#include "line/modem.h"
#include "protocol/encodings.h"

namespace zk {

Str255 ParFileNameFromHost(std::int32_t length, const char* characters) {
    Str255 name;
    if (!characters || length <= 0) return name;
    for (std::int32_t i = 0; i < length && name.size() < 255 && characters[i] != '\0'; ++i) name.append(characters[i]);
    return name;
}

namespace {

constexpr char kKeyCodes[27] = {'\x8C', 'A', 'B', 'C', 'D', 'E', '\xFE', 'G', '7', '8', '9', '\r', '4', '5',
                                '6',    '+', '-', '1', '2',    '3', 'F',    '\x8C', '.', '0', 'E', '\n', '\t'};

std::unique_ptr<StationRecord> NewStation(int n) {
    auto s = std::make_unique<StationRecord>();
    char name[16];
    std::snprintf(name, sizeof name, "NAME_%d", n);
    s->Name.assign(name);
    return s;
}

void ClearTextRow(TextRow& row) {
    std::memset(row.State, 0, sizeof row.State);
    const StationReal zero = FloatToStationReal(0.0);
    for (auto& cell : row.Cells) cell.assign(zero.view());
}

}  // namespace

void ResetContext(DriverContext& ctx) {
    // 1. Pass timing.
    ctx.LastPassTime = DateTimeValue(ctx.Clock.now());
    ctx.IntervalSum = 0.0;
    ctx.PassCount = 0.0;
    ctx.PassInterval = 0.0;
    ctx.MaxPassInterval = 0.0;

    // 2.
    ctx.MergeLimit = 60;
    ctx.Log.LogFileName.clear();
    ctx.DriverName.assign(text::kDefaultDriverName);
    ctx.HostBuffer = nullptr;

    // 3. The 100 station records.
    for (int n = 1; n <= kMaxStations; ++n) ctx.Stations[static_cast<std::size_t>(n)] = NewStation(n);

    // 4.
    ctx.TxState = 0;
    ctx.LineCode = 222;
    ctx.StationCount = 0;
    ctx.RingStation = 1;
    ctx.RingBlock = 0;
    ctx.RingItem = 1;
    ctx.OutStation = 1;
    ctx.PrstynekRun = false;
    ctx.SLEEP_TIME = 0.0;
    ctx.SLEEP_COUNT = 100;

    // 5.
    ctx.KeyCodes.assign(std::string_view(kKeyCodes, sizeof kKeyCodes));
    ctx.TestChannel = 1;
    ctx.TestValue = 0.0;
    ctx.TestFlag = false;
    ctx.FullSleepLeft = 0.0;

    // 6.
    ctx.NUM_MORVEL_ERROR = 1;
    ctx.STAY_IN_QUEUE_ON_TIMEOUT = false;
    ctx.BEEP = false;
    ctx.CUC_PATH.assign(RootDirectory());
    ctx.DEF_ANALOG_IN_ADDR = 65535;

    // 7. The memory-block table: every cell holds the station real of 0.
    ctx.TextTable = std::make_unique<TextRow[]>(kTableRows);
    for (int r = 0; r < kTableRows; ++r) ClearTextRow(ctx.TextTable[static_cast<std::size_t>(r)]);

    // 8. Memory-block read.
    std::memset(ctx.MbWords, 0, sizeof ctx.MbWords);
    ctx.MbStation = 1;
    ctx.MbRequestStation = 1;
    ctx.MbActive = false;
    ctx.TableRow = 1;
    ctx.RowBuffer = TextRow{};
    std::memset(ctx.RowBuffer.State, 0, sizeof ctx.RowBuffer.State);
    ctx.MbKindIndex = 1;

    // 9.
    ctx.Outstanding = false;
    ctx.AckPending = false;
    ctx.AckText.clear();
    ctx.MbFileFlag = false;
    ctx.IDLE_TIME = 10;
    ctx.InputsSuspended = false;
    ctx.AnsweredCall = false;

    // 10. History browsing.
    ctx.HdbStation = 1;
    ctx.HdbNumber = 1;
    ctx.HdbWritePos = 0;
    ctx.HdbTop = 0;
    ctx.HdbItem13 = 0;
    ctx.HdbCapacity = 0;
    ctx.HdbReadState = 0;
    ctx.HdbReadTime = 0.0;
    ctx.HdbReadTimeout = 600.0;
    ctx.HdbUserPos = 0;
    ctx.HdbAwaited.clear();
    ctx.HdbFlag = false;
    std::memset(ctx.HdbDate, 0, sizeof ctx.HdbDate);

    // The modem starts from its reset state also when the file has no [MODEM] group.
    ModemReset(ctx.Modem);
    ctx.Modem.RingText.clear();
}

void PrepareStations(DriverContext& ctx) {
    for (int n = 1; n <= kMaxStations; ++n) {
        StationRecord* s = ctx.Stations[static_cast<std::size_t>(n)].get();
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
