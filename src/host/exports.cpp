// The eighteen exports: argument checks and the C boundary, nothing else.
#include "zkdrv.h"

#include <cstring>

#include "base/texts.h"
#include "host/instance.h"
#include "host/requests.h"

namespace {

zk::DriverRecord* Record(void* driver) {
    auto* rec = static_cast<zk::DriverRecord*>(driver);
    return rec && rec->Magic == 0x5A4B4452 && rec->Context ? rec : nullptr;
}

}  // namespace

extern "C" {

ZK_API uint32_t ZK_CALL Version(void) { return 0x30000; }

ZK_API uint32_t ZK_CALL Check(void) { return 1; }

ZK_API int32_t ZK_CALL GetDriverInfo(uint32_t, char* buffer) {
    if (!buffer) return 0;
    std::memcpy(buffer, zk::text::kDriverInfo.data(), zk::text::kDriverInfo.size());
    buffer[zk::text::kDriverInfo.size()] = '\0';
    return static_cast<int32_t>(zk::text::kDriverInfo.size());
}

ZK_API void* ZK_CALL MakeDriver(void) { return zk::MakeDriver(); }

ZK_API void ZK_CALL DisposeDriver(void* driver) {
    if (auto* rec = Record(driver)) zk::DisposeDriver(rec);
}

ZK_API uint32_t ZK_CALL Init(void* driver, int32_t nameLength, const char* parFileName, uint32_t, char* text256,
                             uint32_t loginLevel, uint32_t, uint32_t arg8, uint32_t arg9) {
    auto* rec = Record(driver);
    if (!rec) return 0;
    return zk::Init(*rec, nameLength, parFileName, text256, loginLevel, arg8, arg9) ? 1 : 0;
}

ZK_API void ZK_CALL Done(void* driver) {
    if (auto* rec = Record(driver)) zk::Done(*rec);
}

ZK_API uint32_t ZK_CALL BufferInfo(void* driver, uint32_t id, uint32_t kind, uint32_t size) {
    return Record(driver) && zk::BufferInfo(id, kind, size) ? 1 : 0;
}

ZK_API void ZK_CALL SetBufferAddr(void* driver, uint32_t id, void* address) {
    if (auto* rec = Record(driver)) zk::SetBufferAddr(*rec, id, address);
}

ZK_API void ZK_CALL InputRequest(void* driver, uint32_t channel) {
    if (auto* rec = Record(driver)) zk::InputRequest(*rec, static_cast<uint16_t>(channel & 0xFFFF));
}

ZK_API void ZK_CALL InputRequestCompleted(void*) {}

ZK_API uint32_t ZK_CALL InputFinalized(void*, uint32_t, uint32_t* result) {
    if (!result) return 0;
    *result = 0;
    return 1;
}

ZK_API void ZK_CALL GetInput(void* driver, uint32_t channel, ZkHostValue* value) {
    auto* rec = Record(driver);
    if (rec && value) zk::GetInput(*rec, static_cast<uint16_t>(channel & 0xFFFF), *value);
}

ZK_API void ZK_CALL OutputRequest(void* driver, uint32_t channel, uint32_t type, uint64_t value) {
    if (auto* rec = Record(driver)) zk::OutputRequest(*rec, static_cast<uint16_t>(channel & 0xFFFF), type, value);
}

ZK_API void ZK_CALL OutputRequestCompleted(void*) {}

ZK_API uint32_t ZK_CALL OutputFinalized(void*, uint32_t, uint32_t* result) {
    if (!result) return 0;
    *result = 0;
    return 1;
}

ZK_API void ZK_CALL DriverProc(void* driver, uint32_t code, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t p4) {
    if (auto* rec = Record(driver)) zk::DriverProc(*rec, code, p1, p2, p3, p4);
}

ZK_API void ZK_CALL QueryProc(void* driver, uint32_t kind, const char* name, uint32_t, void* result) {
    (void)driver;  // the instance plays no part: a host may ask before it has made one
    zk::QueryProc(kind, name, result);
}

}  // extern "C"
