#include "common/driver_api.h"

#include <dlfcn.h>
#include <unistd.h>

namespace zktool {

namespace {
template <typename F>
bool Bind(void* handle, const char* name, F& target, std::string& error) {
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        error = std::string("the library has no export ") + name;
        return false;
    }
    target = reinterpret_cast<F>(symbol);
    return true;
}
}  // namespace

bool DriverApi::Load(const std::string& path, std::string& error) {
    Unload();
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = dlerror();
        error = e ? e : "cannot load " + path;
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
    if (handle) dlclose(handle);
    handle = nullptr;
}

std::string DefaultLibraryPath() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./libzkdrv.so";
    std::string dir(buf, static_cast<std::size_t>(n));
    dir = dir.substr(0, dir.rfind('/'));  // .../tools
    const std::string parent = dir.substr(0, dir.rfind('/'));
#ifndef ZK_INSTALL_LIBDIR
#define ZK_INSTALL_LIBDIR "lib"
#endif
    for (const std::string& candidate : {dir + "/libzkdrv.so", parent + "/libzkdrv.so",
                                         parent + "/" ZK_INSTALL_LIBDIR "/libzkdrv.so", parent + "/lib/libzkdrv.so"})
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    return "./libzkdrv.so";
}

}  // namespace zktool
