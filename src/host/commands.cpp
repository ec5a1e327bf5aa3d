#include "host/commands.h"

namespace zk {

int ConnectionCleanup(DriverContext& ctx) {
    int highest = 0;
    for (int i = 1; i <= kMaxStations; ++i) {
        StationRecord* s = ctx.Stations[i].get();
        if (!s) continue;
        if (s->DialRequested) highest = i;
        s->DialRequested = false;
        s->OnLine = false;
        s->AwaitingAnswer = false;
    }
    return highest;
}

}  // namespace zk
