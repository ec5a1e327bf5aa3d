// Instance life and the entry points that act on the instance as a whole. The exports are
// thin wrappers around these.
#pragma once

#include <cstdint>

#include "host/records.h"

namespace zk {

inline constexpr std::uint32_t kHostBufferId = 0xfffc;

// The record, an uninitialised context and a closed serial port.
DriverRecord* MakeDriver();
// Stops a worker that still runs, then frees everything in the instance's order.
void DisposeDriver(DriverRecord* rec);

// Start-up; true when the worker thread was started. `text256` brings the driver's name in
// and takes the error text (at most 80 characters) out; it may be null.
bool Init(DriverRecord& rec, std::int32_t nameLength, const char* parFileName, char* text256,
          std::uint32_t loginLevel, std::uint32_t arg8, std::uint32_t arg9);
// Stops the worker (closing the port) and frees the status window.
void Done(DriverRecord& rec);

bool BufferInfo(std::uint32_t id, std::uint32_t kind, std::uint32_t size);
void SetBufferAddr(DriverRecord& rec, std::uint32_t id, void* address);
void DriverProc(DriverRecord& rec, std::uint32_t code, std::uint32_t p1, std::uint32_t p2, std::uint32_t p3,
                std::uint32_t p4);
// Copies the identification into the buffer of a "GetVersion" query of kind 11.
void QueryProc(std::uint32_t kind, const char* name, void* result);

}  // namespace zk
