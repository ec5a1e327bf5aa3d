// Any bytes as a parameter file: the load succeeds or fails with a message, and never crashes,
// hangs or reads outside its input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "config/defaults.h"
#include "config/parfile.h"
#include "host/records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zk::DriverRecord rec;
    rec.Context = std::make_unique<zk::DriverContext>();
    zk::DriverContext& ctx = *rec.Context;
    zk::ResetContext(ctx);
    // The log counts as on and busy, so that "$DIAGS" and LOG_FILE write no files.
    ctx.Log.LogEnabled = true;
    ctx.Log.LogBusy = true;
    zk::LoadParameterText(zk::ConfigOf(ctx, rec.Window.get()), std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
