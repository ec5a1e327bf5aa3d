// Placeholder until the driver thread's pass exists.
#include "worker/pass.h"

#include "host/records.h"

namespace zk {

int WorkerPass(DriverRecord& rec) {
    DriverContext* ctx = rec.Context.get();
    if (!ctx || ctx->StopRequest) return 0;
    std::lock_guard lock(ctx->Lock);
    return ctx->IDLE_TIME;
}

}  // namespace zk
