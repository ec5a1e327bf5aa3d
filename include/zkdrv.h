/*
 * zkdrv — the library boundary.
 *
 * The host loads the library by file name and calls these eighteen functions, nothing else.
 * Every text crossing this boundary is code page 1250, NUL-terminated. A null driver, value,
 * buffer or result pointer does nothing (and yields false or 0 where a result is due).
 * Version, Check, GetDriverInfo and QueryProc need no instance: QueryProc ignores its driver
 * argument, null included.
 *
 * The shared buffer (SetBufferAddr, id 0xfffc) is granted with 16862 bytes. Its cell table
 * (row r, column c at byte 34 + 32(r-1) + 4(c-1)) would reach 16930 bytes; the driver never
 * writes past the granted size, so cell 8 of row 526 and the rows 527 and 528 are not
 * initialised.
 */
#ifndef ZKDRV_H
#define ZKDRV_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ZK_CALL __stdcall
#else
#define ZK_CALL
#endif

#if defined(ZK_BUILDING_LIBRARY)
#if defined(_WIN32)
#define ZK_API __declspec(dllexport)
#else
#define ZK_API __attribute__((visibility("default")))
#endif
#else
#define ZK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZkHostValue {      /* the host's value record (GetInput)          */
    int32_t type;                 /* host type code 0..12                         */
    uint8_t value[12];            /* value area, starts at byte offset 4          */
} ZkHostValue;

ZK_API uint32_t ZK_CALL Version(void);                                    /* 0x30000 */
ZK_API uint32_t ZK_CALL Check(void);                                      /* 1       */
ZK_API int32_t  ZK_CALL GetDriverInfo(uint32_t ignored, char *buffer);    /* 29      */
ZK_API void *   ZK_CALL MakeDriver(void);
ZK_API void     ZK_CALL DisposeDriver(void *driver);
ZK_API uint32_t ZK_CALL Init(void *driver, int32_t nameLength, const char *parFileName,
                             uint32_t ignored4, char *text256, uint32_t loginLevel,
                             uint32_t ignored7, uint32_t arg8, uint32_t arg9);
ZK_API void     ZK_CALL Done(void *driver);
ZK_API uint32_t ZK_CALL BufferInfo(void *driver, uint32_t id, uint32_t kind, uint32_t size);
ZK_API void     ZK_CALL SetBufferAddr(void *driver, uint32_t id, void *address);
ZK_API void     ZK_CALL InputRequest(void *driver, uint32_t channel);
ZK_API void     ZK_CALL InputRequestCompleted(void *driver);
ZK_API uint32_t ZK_CALL InputFinalized(void *ignored1, uint32_t ignored2, uint32_t *result);
ZK_API void     ZK_CALL GetInput(void *driver, uint32_t channel, ZkHostValue *value);
ZK_API void     ZK_CALL OutputRequest(void *driver, uint32_t channel, uint32_t type, uint64_t value);
ZK_API void     ZK_CALL OutputRequestCompleted(void *driver);
ZK_API uint32_t ZK_CALL OutputFinalized(void *ignored1, uint32_t ignored2, uint32_t *result);
ZK_API void     ZK_CALL DriverProc(void *driver, uint32_t code,
                                   uint32_t p1, uint32_t p2, uint32_t p3, uint32_t p4);
ZK_API void     ZK_CALL QueryProc(void *driver, uint32_t kind, const char *name,
                                  uint32_t ignored, void *result);

#ifdef __cplusplus
}
#endif

#endif /* ZKDRV_H */
