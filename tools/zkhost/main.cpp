// zkhost: a host for the driver library, loaded by file name and used through its eighteen
// exports only.
#include <cstdio>
#include <cstring>
#include <string>

#include "common/driver_api.h"
#include "common/text.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: zkhost [--library PATH] [--name NAME] PARAMETER-FILE\n"
                 "  Loads the driver, starts an instance with the parameter file and stops it.\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string library = zktool::DefaultLibraryPath();
    std::string name = "ZKHOST";
    std::string parFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--library" && i + 1 < argc) library = argv[++i];
        else if (arg == "--name" && i + 1 < argc) name = argv[++i];
        else if (arg == "-h" || arg == "--help") {
            Usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            Usage();
            return 2;
        } else parFile = arg;
    }
    if (parFile.empty()) {
        Usage();
        return 2;
    }

    zktool::DriverApi api;
    std::string error;
    if (!api.Load(library, error)) {
        std::fprintf(stderr, "zkhost: %s\n", error.c_str());
        return 1;
    }
    char info[64] = {};
    const int32_t infoLength = api.GetDriverInfo(0, info);
    std::printf("library:  %s\n", library.c_str());
    std::printf("Version:  0x%X\n", api.Version());
    std::printf("Driver:   %s (%d characters)\n", zktool::FromCp1250(info).c_str(), infoLength);

    void* driver = api.MakeDriver();
    char text[256] = {};
    const std::string hostName = zktool::ToCp1250(name);
    std::strncpy(text, hostName.c_str(), 255);
    const std::string file = zktool::ToCp1250(parFile);
    const uint32_t ok = api.Init(driver, static_cast<int32_t>(file.size()), file.c_str(), 0, text, 0, 0, 0, 0);
    std::printf("Init:     %s\n", ok ? "true" : "false");
    if (!ok) std::printf("text:     %s\n", zktool::FromCp1250(text).c_str());
    api.Done(driver);
    api.DisposeDriver(driver);
    return ok ? 0 : 1;
}
