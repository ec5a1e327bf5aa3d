// A driver instance whose stations are built directly in the records, for the channel tests:
// the context is reset and the stations prepared as Init does, without a parameter file.
#pragma once

#include <bit>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zkdrv.h"

#include "base/cp1250.h"
#include "config/defaults.h"
#include "diag/status_window.h"
#include "host/channels.h"
#include "host/instance.h"
#include "host/requests.h"
#include "host/records.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace zktest {

inline constexpr std::uint8_t kUntouched = 0xEE;

// A host value record of the given type whose value area holds a recognisable pattern.
inline ZkHostValue HostValue(std::int32_t type) {
    ZkHostValue v{};
    v.type = type;
    std::memset(v.value, kUntouched, sizeof v.value);
    return v;
}

inline bool Untouched(const ZkHostValue& v) {
    for (std::uint8_t b : v.value)
        if (b != kUntouched) return false;
    return true;
}

template <typename T>
T As(const ZkHostValue& v) {
    T x;
    std::memcpy(&x, v.value, sizeof x);
    return x;
}

// The 8 bytes OutputRequest receives for a value of each host type.
template <typename T>
std::uint64_t Bits(T x) {
    std::uint64_t raw = 0;
    std::memcpy(&raw, &x, sizeof x);
    return raw;
}

inline std::string Hex(std::string_view bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// A queued request as text: "station kind word data-in-hex", the key as "+key" when set.
inline std::vector<std::string> Requests(const zk::RequestQueue& q) {
    std::vector<std::string> out;
    for (const zk::RequestNode* n = q.Head; n; n = n->Next)
        out.push_back(std::to_string(n->Station) + " " + std::to_string(n->Kind) + " " + std::to_string(n->Word) + " " +
                      Hex(n->Data.view()) + (n->Key ? " +key" : ""));
    return out;
}

struct HostFixture {
    zk::DriverRecord* rec = zk::MakeDriver();
    zk::DriverContext& ctx = *rec->Context;
    TempDir dir;

    HostFixture() {
        std::lock_guard lock(ctx.Lock);
        zk::ResetContext(ctx);
        zk::PrepareStations(ctx.Stations);
        ctx.Global.CUC_PATH.assign(dir.path() + "/");
        ctx.Com.DEVICE.assign("/nonexistent/zkdrv-test-tty");
        rec->Window = std::make_unique<zk::StatusWindow>();
        zk::InitStatusWindow(*rec->Window);
        rec->Window->EventList.clear();
    }
    ~HostFixture() {
        // No history file is written from a test.
        for (auto& s : ctx.Stations)
            if (s) s->Hdb.reset();
        zk::DisposeDriver(rec);
    }
    HostFixture(const HostFixture&) = delete;
    HostFixture& operator=(const HostFixture&) = delete;

    // Station n, counted as defined.
    zk::StationRecord& Station(int n) {
        if (ctx.StationCount < n) ctx.StationCount = static_cast<std::uint8_t>(n);
        return *ctx.Stations[static_cast<std::size_t>(n)];
    }
    // Station n with the standard numbering and the given point counts.
    zk::StationRecord& Standard(int n, std::uint8_t bi = 16, std::uint8_t bo = 8, std::uint8_t ai = 4,
                                std::uint8_t ct = 4, std::uint8_t mi = 3, std::uint8_t mo = 5) {
        zk::StationRecord& s = Station(n);
        zk::ApplyStandardNumbering(s, n);
        s.NumBinarIn = bi;
        s.NumBinarOut = bo;
        s.NumAnalogIn = ai;
        s.NumCounterIn = ct;
        s.NumMemoryIn = mi;
        s.NumMemoryOut = mo;
        return s;
    }
    zk::ChannelItem& Item(int station, std::uint16_t channel, std::uint8_t direction, std::uint8_t a0, std::uint8_t a1,
                          std::uint8_t a2, std::uint8_t type) {
        return zktest::AddChannelItem(Station(station), channel, type, direction, a0, a1, a2);
    }
    // A block with one element per character of `types` (codes '1'..'6') and `directions`.
    zk::MemoryBlock& Block(int station, std::uint16_t channelRead, std::uint16_t first, std::string_view types,
                           std::string_view directions) {
        auto block = std::make_unique<zk::MemoryBlock>();
        block->Addr = 200;
        block->ChannelRead = channelRead;
        block->Channel = first;
        for (char t : types) {
            block->Types.append(static_cast<char>(t - '0'));
            block->TotalSize = static_cast<std::uint8_t>(block->TotalSize + zk::ElementSize(static_cast<std::uint8_t>(t - '0')));
        }
        for (char d : directions) block->Directions.append(static_cast<char>(d - '0'));
        zk::MemoryBlock& ref = *block;
        Station(station).MemoryBlocks.push_back(std::move(block));
        return ref;
    }
    // As while the worker runs (the test plays its part): modem commands and port work are
    // taken only then.
    void Serve() { rec->Running = true; }
    void Build() {
        std::lock_guard lock(ctx.Lock);
        zk::BuildChannelIndex(ctx);
    }

    ZkHostValue Get(std::uint16_t channel, std::int32_t type) {
        ZkHostValue v = HostValue(type);
        zk::GetInput(*rec, channel, v);
        return v;
    }
    // A type-11 read into a text buffer; the buffer's first bytes stay 0xEE when untouched.
    std::string GetText(std::uint16_t channel, std::size_t size = 300) {
        std::vector<char> buffer(size, static_cast<char>(kUntouched));
        ZkHostValue v = HostValue(zk::HostText);
        char* p = buffer.data();
        std::memcpy(v.value, &p, sizeof p);
        zk::GetInput(*rec, channel, v);
        if (static_cast<std::uint8_t>(buffer[0]) == kUntouched) return "<untouched>";
        return std::string(buffer.data(), strnlen(buffer.data(), size));
    }
    void Put(std::uint16_t channel, std::uint32_t type, std::uint64_t bits) { zk::OutputRequest(*rec, channel, type, bits); }
    void Request(std::uint16_t channel) { zk::InputRequest(*rec, channel); }

    std::vector<std::string> Events() const {
        std::vector<std::string> out;
        for (const auto& line : rec->Window->EventList) out.push_back(zk::Cp1250ToUtf8(line));
        return out;
    }
    std::string LastEvent() const {
        return rec->Window->EventList.empty() ? "" : zk::Cp1250ToUtf8(rec->Window->EventList.back());
    }
};

}  // namespace zktest
