// Placeholders until the scheduler and the modem machine exist.
#include "worker/modem_machine.h"
#include "worker/scheduler.h"

namespace zk {

void ScheduleStep(DriverRecord&) {}
void ModemStep(DriverRecord&) {}

}  // namespace zk
