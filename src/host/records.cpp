#include "host/records.h"

#include <cstring>
#include <memory>

#include "base/texts.h"
#include "config/defaults.h"
#include "diag/status_view.h"
#include "diag/status_window.h"
#include "line/serial.h"
#include "protocol/encodings.h"
#include "worker/drv_thread.h"
#include "worker/line_commands.h"

namespace zk {

DriverContext::DriverContext() { Log.Clock = &Clock; }
DriverContext::~DriverContext() = default;

std::int32_t CentisecondsOfDay(const DriverContext& ctx) { return CentisecondsOfDay(ctx.Clock.now()); }
std::int64_t TickHundredths(const DriverContext& ctx) { return ctx.Clock.monotonicMs() / 10; }

StationRecord* DefinedStation(DriverContext& ctx, int index) {
    return DefinedStation(ctx.Stations, ctx.StationCount, index);
}

ConfigContext ConfigOf(DriverContext& ctx, StatusWindow* window) {
    return ConfigContext{ctx.Global, ctx.Com, ctx.Modem,       ctx.Stations,  ctx.StationCount,
                         ctx.Log,    ctx.DriverName, ctx.ParFileName, ctx.ErrorText, window};
}

HistoryContext HistoryOf(DriverContext& ctx) {
    return HistoryContext{ctx.History,     ctx.Stations,         ctx.StationCount, ctx.ReadQueue,
                          ctx.WriteQueue,  ctx.PendingEventText, ctx.DriverName,   ctx.Log,
                          [&ctx] {
                              PortActions port;
                              ClearQueues(ctx, port);
                              if (port.Purge) PurgeLine(ctx.Line);  // goes out with the worker's next flush
                          }};
}

namespace {

constexpr char kKeyCodes[27] = {'\x8C', 'A', 'B', 'C', 'D', 'E', '\xFE', 'G', '7', '8', '9', '\r', '4', '5',
                                '6',    '+', '-', '1', '2',    '3', 'F',    '\x8C', '.', '0', 'E', '\n', '\t'};

// A record back to its initialisers. The records hold atomics, so they are built afresh in
// place rather than assigned; no other thread may use the record meanwhile.
template <class Record>
void ResetRecord(Record& r) {
    std::destroy_at(&r);
    std::construct_at(&r);
}

void ClearTextRow(TextRow& row) {
    std::memset(row.State, 0, sizeof row.State);
    const StationReal zero = FloatToStationReal(0.0);
    for (auto& cell : row.Cells) cell.assign(zero.view());
}

}  // namespace

void ResetContext(DriverContext& ctx) {
    // The worker's pass statistics start from now (the worker is not running).
    ResetRecord(ctx.Timing);
    ctx.Timing.LastPassTime = static_cast<double>(ctx.Clock.monotonicMs());

    // The merge limit, the log file and the driver's name; no host buffer yet.
    ctx.Scheduler.MergeLimit = 60;
    ResetLog(ctx.Log);  // a new Init logs only after its own "$DIAGS"
    ctx.DriverName.assign(text::kDefaultDriverName);
    ctx.HostBuffer = nullptr;

    // The 100 station records.
    ResetStations(ctx.Stations);

    // The scheduler and the sleep rule.
    ctx.Scheduler.TxState = TxState::Choose;
    ctx.Scheduler.LineCode = 222;
    ctx.StationCount = 0;
    ctx.Scheduler.RingStation = 1;
    ctx.Scheduler.RingBlock = 0;
    ctx.Scheduler.RingItem = 1;
    ctx.Scheduler.OutStation = 1;
    ctx.Global.PrstynekRun = false;
    ctx.Global.SLEEP_TIME = 0.0;
    ctx.Global.SLEEP_COUNT = 100;

    // The key table and the test injection.
    ctx.KeyCodes.assign(std::string_view(kKeyCodes, sizeof kKeyCodes));
    ctx.TestChannel = 1;
    ctx.TestValue = 0.0;
    ctx.TestFlag = false;
    ctx.Scheduler.FullSleepLeft = 0.0;

    // The [GLOBAL] settings that keep a default when the file does not set them.
    ctx.Global.NUM_MORVEL_ERROR = 1;
    ctx.Global.STAY_IN_QUEUE_ON_TIMEOUT = false;
    ctx.Global.BEEP = false;
    ctx.Global.CUC_PATH.assign(RootDirectory());
    ctx.Global.DEF_ANALOG_IN_ADDR = 65535;

    // The memory-block table and its read start over; every cell holds the station real of 0.
    ResetRecord(ctx.Table);
    ctx.Table.TextTable = std::make_unique<TextRow[]>(kTableRows);
    for (int r = 0; r < kTableRows; ++r) ClearTextRow(ctx.Table.TextTable[static_cast<std::size_t>(r)]);

    // No request outstanding, no acknowledgement due; the pause and the host's switches.
    ctx.Scheduler.Outstanding = false;
    ctx.Scheduler.AckPending = false;
    ctx.Scheduler.AckText.clear();
    ctx.Global.IDLE_TIME = 10;
    ctx.InputsSuspended = false;
    ctx.AnsweredCall = false;

    // The history read-out and browsing.
    ResetRecord(ctx.History);

    // The modem starts from its reset state also when the file has no [MODEM] group.
    ModemReset(ctx.Modem);
    ctx.Modem.RingText.clear();
}

DriverRecord::DriverRecord() = default;
DriverRecord::~DriverRecord() = default;

}  // namespace zk
