#include "worker/steps.h"

#include "protocol/encoder.h"
#include "protocol/framing.h"

namespace zk {

bool ReceiveFrame(DriverContext& ctx, bool* foreign) {
    AskedStation asked;
    asked.Index = ctx.Scheduler.Outstanding ? ctx.Scheduler.OutStation.load() : 0;
    if (asked.Index >= 1 && asked.Index <= kMaxStations)
        if (const StationRecord* s = ctx.Stations[static_cast<std::size_t>(asked.Index)].get()) asked.Address = s->Address;
    return ReceiveDATA(ctx.Framing, ctx.Global, ctx.Line, ctx.ReceiveQueue, ctx.Modem.TerminatorTaken, ctx.Log, asked,
                       foreign);
}

Str255 EncodeRequest(DriverContext& ctx, const RequestNode& request) {
    return CodeMess(ctx.Global, DefinedStation(ctx, request.Station), request, ctx.Log);
}

}  // namespace zk
