// The modem connection machine: carries out queued modem commands and, with none queued and a
// line connected, steps the scheduler. The caller holds the instance's lock.
#pragma once

namespace zk {

struct DriverRecord;

// One step of the machine, once per pass while the port is open.
void ModemStep(DriverRecord& rec);

}  // namespace zk
