// Parameter files for tests, built from readable pieces.
#pragma once

#include <string>

namespace zktest {

struct ParFileOptions {
    std::string device = "/nonexistent/zkdrv-test-tty";  // DEVICE of [COM]; empty: no DEVICE key
    std::string modem = "[MODEM] INIT_TIME 4 END";        // the whole [MODEM] group
    std::string globalExtra;                              // more [GLOBAL] keys
    std::string stations = "[STATION] ADDRESS 5 RETRANSLATION 5 NAME \"ST1\"\r\n"
                           "NUM_BINAR_IN 16 NUM_BINAR_OUT 8 NUM_ANALOG_IN 4 NUM_COUNTER_IN 0 NUM_MEMORY_IN 0 "
                           "NUM_MEMORY_OUT 0\r\n"
                           "BINAR_IN_XOR NONE\r\nBINAR_OUT_XOR NONE\r\nDEF_ANALOG_IN_ADDR FROM_GLOBAL\r\n"
                           "DEF_MEMORY_IN NONE DEF_MEMORY_OUT NONE DEF_COUNTER_IN NONE ORIGINAL_CHANNELS END\r\n";
    std::string logFile;  // LOG_FILE of [GLOBAL]; empty: none
    bool diags = false;   // a "$DIAGS" line at the top
};

// A complete parameter file with CR LF line ends.
std::string MakeParFile(const ParFileOptions& options = {});

}  // namespace zktest
