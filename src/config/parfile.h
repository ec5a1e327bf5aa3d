// Loading the parameter file into a reset context.
#pragma once

#include <string_view>

#include "base/shortstr.h"
#include "host/records.h"

namespace zk {

struct ParReader;
struct ParDiagnostics;

// Reads [COM], [MODEM], [GLOBAL] and the station groups from the file named ParFileName.
// False leaves the message for the host in ErrorText. Takes the instance's lock itself.
// `diag`, when given, collects what the loaders noticed (unknown keys, values that did not
// parse, where each key stands); the load is the same without it.
bool LoadParameterFile(DriverRecord& rec, ParDiagnostics* diag = nullptr);

// The same from the file's bytes in memory. The caller holds the instance's lock (or owns the
// instance alone) and has reset the context.
bool LoadParameterText(DriverRecord& rec, std::string_view bytes, ParDiagnostics* diag = nullptr);

// The [MODEM] group after its header: every modem field to its default, then the keys found up
// to END (or the end of the file). Always succeeds.
bool LoadModem(DriverContext& ctx, ParReader& r);

// A modem text from the file: "#" becomes CR and "@" becomes LF.
Str255 ModemText(std::string_view raw);

}  // namespace zk
