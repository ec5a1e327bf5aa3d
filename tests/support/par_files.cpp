#include "support/par_files.h"

namespace zktest {

std::string MakeParFile(const ParFileOptions& o) {
    std::string f;
    if (o.diags) f += "$DIAGS\r\n";
    f += "{ serial line }\r\n[COM]\r\n";
    f += "IRQ 4 BASE 1016 BAUD 9600 BITS 8 PARITY NONE STOP 1\r\n";
    f += "OPTIONS 0 BUFFER_SIZE 1024 DRIVER SYSTEM 1\r\n";
    if (!o.device.empty()) f += "DEVICE " + o.device + "\r\n";
    f += "END\r\n";
    f += o.modem + "\r\n";
    f += "[GLOBAL]\r\nPREFIX NONE\r\nSUFFIX NONE\r\nPRESUFFIX NONE\r\n";
    f += "ADDRESS 1 ANSWER_TIME 2.5 SILENCE_WAIT 50 RTS_TIME_ON 0 RTS_TIME_OFF 0\r\n";
    f += "DEF_ANALOG_IN_ADDR 256 SLEEP_TIME 60 STOP_SELF_READING OFF\r\n";
    // The value item of a string is upper-cased; a lone quote as the value item keeps the path's case.
    if (!o.logFile.empty()) f += "LOG_FILE \" " + o.logFile + "\"\r\n";
    if (!o.globalExtra.empty()) f += o.globalExtra + "\r\n";
    f += "END\r\n";
    f += o.stations;
    return f;
}

}  // namespace zktest
