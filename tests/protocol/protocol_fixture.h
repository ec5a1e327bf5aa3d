// A driver context with its defaults, a log in a temporary directory read back line by line,
// and helpers that build stations and byte strings for the protocol tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "config/defaults.h"
#include "host/records.h"
#include "worker/steps.h"
#include "protocol/encodings.h"
#include "support/builders.h"
#include "support/temp_dir.h"

namespace zktest {

// Bytes from a list of values.
inline std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (const int b : bytes) s.push_back(static_cast<char>(b & 0xFF));
    return s;
}

// The bytes with their XOR check byte appended.
inline std::string WithCheck(std::string bytes) {
    std::uint8_t x = 0;
    for (const char c : bytes) x ^= static_cast<std::uint8_t>(c);
    bytes.push_back(static_cast<char>(x));
    return bytes;
}

inline std::string Hex(std::string_view bytes) { return zk::BytesToHex(bytes); }

class ProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ctx.Clock.now = [] { return zk::LocalTime{2024, 3, 4, 5, 6, 7, 0}; };
        ctx.Clock.monotonicMs = [] { return std::int64_t{5000000}; };
        zk::ResetContext(ctx);
        ctx.Global.ADDRESS = 1;
        ctx.Log.LogFileName.assign(dir.file("zk.log"));
        ctx.Log.LogEnabled = true;
    }

    // Defines station `index` (1-based) with an address and a name.
    zk::StationRecord& Station(int index, std::uint8_t address, std::string_view name = "STANICE") {
        zk::StationRecord& s = *ctx.Stations[static_cast<std::size_t>(index)];
        s.Address = address;
        s.Retranslation = address;
        s.Name.assign(name);
        if (ctx.StationCount < index) ctx.StationCount = static_cast<std::uint8_t>(index);
        return s;
    }

    zk::ChannelItem& Channel(zk::StationRecord& s, std::uint16_t number, std::uint8_t type, std::uint8_t direction,
                             std::uint8_t d, std::uint8_t b, std::uint8_t a) {
        return zktest::AddChannelItem(s, number, type, direction, d, b, a);
    }

    zk::MemoryBlock& Block(zk::StationRecord& s, std::uint16_t addr, std::initializer_list<int> types) {
        return zktest::AddMemoryBlock(s, addr, types);
    }

    // The log's lines as "tag : detail" (the time stamp taken off).
    std::vector<std::string> LogLines() const {
        std::vector<std::string> out;
        const std::string text = ReadFile(dir.file("zk.log"));
        const std::string stamp = "4.3.2024 5:06:07 ";
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(at, end - at);
            if (line.rfind(stamp, 0) == 0) line.erase(0, stamp.size());
            out.push_back(line);
            at = end + 2;
        }
        return out;
    }

    void ClearLog() const { WriteFile(dir.file("zk.log"), ""); }

    TempDir dir;
    zk::DriverContext ctx;
};

}  // namespace zktest
