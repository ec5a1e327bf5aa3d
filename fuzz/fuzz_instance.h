// A driver instance with a loaded parameter file, as Init leaves it, but with no port, no
// worker thread and no files: the log counts as on and busy (so it writes nothing), the
// memory-block table goes to a directory that does not exist, and no history is loaded. The
// clock is the fuzzer's: Advance() moves it on.
#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>

#include "config/defaults.h"
#include "config/parfile.h"
#include "diag/status_window.h"
#include "host/channels.h"
#include "host/instance.h"
#include "host/records.h"
#include "platform/platform.h"

namespace zkfuzz {

inline constexpr std::string_view kParameters =
    "[COM]\r\nIRQ 4 BASE 1016 BAUD 9600 BITS 8 PARITY NONE STOP 1\r\n"
    "OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM 1\r\nEND\r\n"
    "[MODEM]\r\nINIT ATZ# INIT_TIME 6\r\nCONNECT_OK CONNECT CONNECT_TIME 15\r\n"
    "LINEOFF ~+++~ATH0# LINEOFF_TIME 8\r\nCONNECT_RING RING\r\nEND\r\n"
    "[GLOBAL]\r\nPREFIX $FF$FF\r\nSUFFIX NONE\r\nPRESUFFIX NONE\r\n"
    "ADDRESS 1 RTS_TIME_ON 0 RTS_TIME_OFF 0 DEF_ANALOG_IN_ADDR 256 IDLE_TIME 5\r\n"
    "ANSWER_TIME 1 SILENCE_WAIT 20 NUM_MORVEL_ERROR 3 SLEEP_COUNT 2 SLEEP_TIME 2\r\nEND\r\n"
    "[STATION] ADDRESS 5 RETRANSLATION 5\r\nNAME \" Kotelna\"\r\n"
    "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 8 NUM_COUNTER_IN 8 NUM_MEMORY_IN 2 NUM_MEMORY_OUT 1\r\n"
    "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
    "DEF_MEMORY_IN 1 100 WORD 2 104 REAL DEF_MEMORY_END\r\n"
    "DEF_MEMORY_OUT 1 200 REAL DEF_MEMORY_END\r\n"
    "DEF_COUNTER_IN 1 REAL 0.5 0 DEF_COUNTER_END\r\n"
    "PHONE 123\r\n"
    "QQ READ 2001 0 16 0 LONGINT\r\nQQ WRITE 2002 0 20 0 WORD\r\nQQ BIDIR 2003 0 24 0 REAL\r\n"
    "QQ READ 2004 0 28 0 STRING\r\nQQ BIDIR 2005 0 30 0 BYTE\r\n"
    "ORIGINAL_CHANNELS\r\nEND\r\n"
    "[STATION] ADDRESS 6 RETRANSLATION 6\r\nNAME \" Vymenik\"\r\n"
    "NUM_BINAR_IN 8 NUM_BINAR_OUT 0 NUM_ANALOG_IN 0 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 NUM_MEMORY_OUT 8\r\n"
    "BINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR 0\r\n"
    "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE\r\n"
    "PHONE D123\r\nORIGINAL_CHANNELS\r\nEND\r\n";

struct Instance {
    zk::DriverRecord* rec = zk::MakeDriver();
    zk::DriverContext& ctx = *rec->Context;
    zk::LocalTime now{2024, 1, 1, 12, 0, 0, 0};
    std::int64_t monotonicMs = 1000;

    Instance() {
        std::lock_guard lock(ctx.Lock);
        zk::ResetContext(ctx);
        ctx.Clock.now = [this] { return now; };
        ctx.Clock.monotonicMs = [this] { return monotonicMs; };
        ctx.Log.LogEnabled = true;
        ctx.Log.LogBusy = true;
        ctx.Line.Serial = rec->SerialPort.get();
        rec->Window = std::make_unique<zk::StatusWindow>();
        zk::InitStatusWindow(*rec->Window);
        rec->Window->Driver = rec;
        loaded = zk::LoadParameterText(zk::ConfigOf(ctx, rec->Window.get()), kParameters);
        ctx.Log.LogEnabled = true;
        ctx.Log.LogBusy = true;
        ctx.Global.CUC_PATH.assign("/nonexistent/zkdrv-fuzz/");
        ctx.Com.DEVICE.assign("/nonexistent/zkdrv-fuzz-tty");
        zk::PrepareStations(ctx.Stations);
        zk::BuildChannelIndex(ctx);
        // The run-time state Init leaves: timers from now, the modem's initialisation asked for.
        ctx.StatsResetTime = zk::TickHundredths(ctx);
        ctx.LastTick = ctx.StatsResetTime;
        ctx.LastTimeOfDay = zk::CentisecondsOfDay(ctx);
        ctx.Modem.ModemLastTick = ctx.StatsResetTime;
        ctx.Timing.LastPassTime = static_cast<double>(monotonicMs);
        ctx.Modem.ModemInitRequest = true;
    }
    ~Instance() {
        for (auto& s : ctx.Stations)
            if (s) s->Hdb.reset();  // nothing is written back
        zk::DisposeDriver(rec);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Moves both clocks on by `centiseconds` (the time of day within the day).
    void Advance(unsigned centiseconds) {
        monotonicMs += centiseconds * 10LL;
        long cs = ((now.hour * 60L + now.minute) * 60L + now.second) * 100L + now.millisecond / 10 + centiseconds;
        cs %= 8640000L;
        now.millisecond = static_cast<int>(cs % 100) * 10;
        cs /= 100;
        now.second = static_cast<int>(cs % 60);
        cs /= 60;
        now.minute = static_cast<int>(cs % 60);
        now.hour = static_cast<int>(cs / 60);
    }

    bool loaded = false;
};

// Reads the fuzzer's bytes in order; past the end everything is 0.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool more() const { return at < size; }
    std::uint8_t u8() { return at < size ? data[at++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
    std::uint32_t u32() { return u16() | (static_cast<std::uint32_t>(u16()) << 16); }
    std::uint64_t u64() { return u32() | (static_cast<std::uint64_t>(u32()) << 32); }
};

inline void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace zkfuzz
