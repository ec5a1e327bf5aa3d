#include "worker/steps.h"

#include "protocol/encoder.h"
#include "protocol/framing.h"

namespace zk {

bool ReceiveFrame(DriverContext& ctx) {
    return ReceiveDATA(ctx.Framing, ctx.Global, ctx.Line, ctx.ReceiveQueue, ctx.Modem.TerminatorTaken, ctx.Log);
}

Str255 EncodeRequest(DriverContext& ctx, const RequestNode& request) {
    return CodeMess(ctx.Global, DefinedStation(ctx, request.Station), request, ctx.Log);
}

}  // namespace zk
