// Placeholder until the parameter-file reader exists: loads nothing.
#include "config/parfile.h"

namespace zk {

bool LoadParameterFile(DriverRecord&) { return true; }

}  // namespace zk
