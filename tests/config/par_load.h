// A driver record with a reset context and a status window, loaded from parameter-file text.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/cp1250.h"
#include "config/defaults.h"
#include "config/parfile.h"
#include "diag/status_window.h"
#include "host/records.h"

namespace zktest {

struct ParLoad {
    zk::DriverRecord rec;
    bool ok = false;

    ParLoad() {
        rec.Context = std::make_unique<zk::DriverContext>();
        zk::ResetContext(*rec.Context);
        rec.Window = std::make_unique<zk::StatusWindow>();
    }
    explicit ParLoad(std::string_view text) : ParLoad() { ok = zk::LoadParameterText(target(), text); }

    // The loader's view of the instance, with the status window.
    zk::ConfigContext target() { return zk::ConfigOf(*rec.Context, rec.Window.get()); }

    zk::DriverContext& ctx() { return *rec.Context; }
    zk::StationRecord& station(int n) { return *rec.Context->Stations[static_cast<std::size_t>(n)]; }
    // ErrorText in UTF-8 (it is held in CP1250).
    std::string error() const { return zk::Cp1250ToUtf8(rec.Context->ErrorText); }
    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const auto& line : rec.Window->EventList) out.push_back(zk::Cp1250ToUtf8(line));
        return out;
    }
};

// The pieces of a parameter file; each test replaces what it is about.
struct ParText {
    std::string com = "[COM]\r\nIRQ 4 BASE 1016 BAUD 9600 BITS 8 PARITY NONE STOP 1\r\n"
                      "OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM 1\r\nEND\r\n";
    std::string modem = "[MODEM] INIT_TIME 4 END\r\n";
    std::string global = "[GLOBAL]\r\nPREFIX NONE SUFFIX NONE PRESUFFIX NONE\r\n"
                         "ADDRESS 1 ANSWER_TIME 2.5 SILENCE_WAIT 50 RTS_TIME_ON 0 RTS_TIME_OFF 0\r\n"
                         "DEF_ANALOG_IN_ADDR 256 SLEEP_TIME 60\r\nEND\r\n";
    std::string stations = Station();

    std::string str() const { return com + modem + global + stations; }

    // A complete station group with `extra` keys before its END.
    static std::string Station(const std::string& extra = "", const std::string& name = "ST1") {
        return "[STATION] ADDRESS 5 RETRANSLATION 5\r\nNAME \"" + name +
               "\"\r\nNUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 4 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 "
               "NUM_MEMORY_OUT 0\r\nBINAR_IN_XOR NONE BINAR_OUT_XOR NONE DEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
               "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE\r\n" +
               extra + "\r\nEND\r\n";
    }
};

}  // namespace zktest
