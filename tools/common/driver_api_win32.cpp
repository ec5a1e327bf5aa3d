// The driver library on Windows: LoadLibrary and GetProcAddress.
#include <windows.h>

#include "common/driver_api.h"

namespace zktool {

namespace {
template <typename F>
bool Bind(void* handle, const char* name, F& target, std::string& error) {
    FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle), name);
    if (!symbol) {
        error = std::string("the library has no export ") + name;
        return false;
    }
    target = reinterpret_cast<F>(reinterpret_cast<void*>(symbol));
    return true;
}
}  // namespace

bool DriverApi::Load(const std::string& path, std::string& error) {
    Unload();
    handle = LoadLibraryA(path.c_str());
    if (!handle) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    const bool ok = Bind(handle, "Version", Version, error) && Bind(handle, "Check", Check, error) &&
                    Bind(handle, "GetDriverInfo", GetDriverInfo, error) && Bind(handle, "MakeDriver", MakeDriver, error) &&
                    Bind(handle, "DisposeDriver", DisposeDriver, error) && Bind(handle, "Init", Init, error) &&
                    Bind(handle, "Done", Done, error) && Bind(handle, "BufferInfo", BufferInfo, error) &&
                    Bind(handle, "SetBufferAddr", SetBufferAddr, error) &&
                    Bind(handle, "InputRequest", InputRequest, error) &&
                    Bind(handle, "InputRequestCompleted", InputRequestCompleted, error) &&
                    Bind(handle, "InputFinalized", InputFinalized, error) && Bind(handle, "GetInput", GetInput, error) &&
                    Bind(handle, "OutputRequest", OutputRequest, error) &&
                    Bind(handle, "OutputRequestCompleted", OutputRequestCompleted, error) &&
                    Bind(handle, "OutputFinalized", OutputFinalized, error) &&
                    Bind(handle, "DriverProc", DriverProc, error) && Bind(handle, "QueryProc", QueryProc, error);
    if (!ok) Unload();
    return ok;
}

void DriverApi::Unload() {
    if (handle) FreeLibrary(static_cast<HMODULE>(handle));
    handle = nullptr;
}

// zkdrv.dll beside zkhost.exe.
std::string DefaultLibraryPath() {
    char buf[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return "zkdrv.dll";
    std::string dir(buf, n);
    const std::size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? "zkdrv.dll" : dir.substr(0, slash + 1) + "zkdrv.dll";
}

}  // namespace zktool
