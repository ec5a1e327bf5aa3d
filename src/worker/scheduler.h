// The poll scheduler: chooses, sends and settles one request at a time while a modem line is
// connected. The caller holds the instance's lock.
#pragma once

namespace zk {

struct DriverRecord;

// One step of the scheduler.
void ScheduleStep(DriverRecord& rec);

}  // namespace zk
