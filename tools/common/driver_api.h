// The driver library loaded by file name, reached through its eighteen exports only.
#pragma once

#include <string>

#include "zkdrv.h"

namespace zktool {

struct DriverApi {
    void* handle = nullptr;
    decltype(&::Version) Version = nullptr;
    decltype(&::Check) Check = nullptr;
    decltype(&::GetDriverInfo) GetDriverInfo = nullptr;
    decltype(&::MakeDriver) MakeDriver = nullptr;
    decltype(&::DisposeDriver) DisposeDriver = nullptr;
    decltype(&::Init) Init = nullptr;
    decltype(&::Done) Done = nullptr;
    decltype(&::BufferInfo) BufferInfo = nullptr;
    decltype(&::SetBufferAddr) SetBufferAddr = nullptr;
    decltype(&::InputRequest) InputRequest = nullptr;
    decltype(&::InputRequestCompleted) InputRequestCompleted = nullptr;
    decltype(&::InputFinalized) InputFinalized = nullptr;
    decltype(&::GetInput) GetInput = nullptr;
    decltype(&::OutputRequest) OutputRequest = nullptr;
    decltype(&::OutputRequestCompleted) OutputRequestCompleted = nullptr;
    decltype(&::OutputFinalized) OutputFinalized = nullptr;
    decltype(&::DriverProc) DriverProc = nullptr;
    decltype(&::QueryProc) QueryProc = nullptr;

    // Loads the library; false with a message in `error` when it or an export is missing.
    bool Load(const std::string& path, std::string& error);
    void Unload();
    ~DriverApi() { Unload(); }
};

// The library next to the running program (build tree or installation), for a default.
std::string DefaultLibraryPath();

}  // namespace zktool
