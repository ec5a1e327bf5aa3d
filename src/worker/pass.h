// One pass of the worker thread.
#pragma once

namespace zk {

struct DriverRecord;

// Runs one pass; returns the pause in milliseconds that should follow it (IDLE_TIME, or 0
// when the pass was skipped).
int WorkerPass(DriverRecord& rec);

}  // namespace zk
