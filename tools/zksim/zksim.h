// zksim: the devices outside the driver, played on a pseudo-terminal: an AT modem and the
// stations behind it. Runs on its own thread; every call below is thread-safe.
//
//   zksim::SimOptions options;
//   options.line = zksim::DefaultLine();          // or ScanParameterFile(...)
//   zksim::Simulator sim(options);
//   std::string error;
//   if (!sim.Start(error)) ...;
//   open(sim.SlavePath().c_str(), ...)            // the driver's side of the line
//   sim.SetBinaryIn(5, 3, true); sim.Ring(6); sim.InjectFault({...}); ...
//   sim.Stop();                                   // also done by the destructor
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zksim/config.h"
#include "zksim/station.h"

namespace zksim {

struct SimOptions {
    LineDef line = DefaultLine();  // stations, prefix/suffix/pre-suffix, driver address, ring text
    Layout layout = Layout::Routed;  // answer layout of every station (StationDef::layout is ignored)
    std::string tracePath;          // traffic trace file; empty: none
    std::string linkPath;           // a symbolic link to the slave made at start, removed at stop
    // Line speed: > 0 paces every byte to the driver at 10 bits at this rate (a byte reaches
    // the driver when its stop bit would have), as a modem on a line of that speed; 0: at once.
    int paceBaud = 0;
    // Called on the simulator's thread whenever bytes pass the terminal: read from the driver
    // or written to it (when paced, as they leave). Must not call back into the Simulator.
    std::function<void(bool toDriver, std::string_view bytes)> wireTap;
    // Modem
    int dialDelayMs = 1000;         // ATD until CONNECT / BUSY / NO CARRIER
    int answerDelayMs = 500;        // ATA until CONNECT
    int guardMs = 1000;             // "+++" escape guard time, before and after
    bool ringingTexts = false;      // "\r\nRINGING\r\n" every ringingIntervalMs while dialling
    int ringingIntervalMs = 4000;
    bool echo = false;              // command echo at start (ATE0/ATE1 change it)
    std::string connectText = "CONNECT 9600";  // sent as "\r\n" + text + "\r\n"
    Bytes ringText;                 // empty: the parameter file's CONNECT_RING, else "\r\nRING\r\n"
    int ringIntervalMs = 4000;      // pause between ring texts
    std::vector<std::string> extraNumbers;  // numbers that connect besides the stations' PHONEs
    std::vector<std::string> busyNumbers;   // numbers that answer BUSY
    // Stations
    int replyDelayMs = 20;          // request received until its answer is sent
    int reportDelayMs = 500;        // answered call until the caller's report is sent
    int frameGapMs = 1000;          // a partial request older than this is dropped
};

// Faults applied to the next answers of a station (0 = any station), in the order injected.
struct Fault {
    uint8_t station = 0;
    int count = 1;                // answers it spoils; negative: until ClearFaults
    bool silence = false;         // no answer at all
    bool badCheck = false;        // the check byte is wrong
    Bytes garbageBefore;          // bytes sent before the answer (before its prefix)
    Bytes garbageAfter;           // bytes sent after the answer
    int wrongAddress = -1;        // 0..255: the answer names this station address instead
    int delayMs = 0;              // added to the reply delay
    int truncate = -1;            // >= 0: only this many bytes of the framed answer are sent
    bool dropCarrier = false;     // instead of answering, the modem loses the carrier ("NO CARRIER")
    // Noise on the line inside the frame (address to check byte); a position past the frame's
    // end wraps round. Positions are counted from the frame's first byte.
    int flipBit = -1;             // >= 0: bit flipBit % 8 of byte flipBit / 8 is inverted
    int dropByte = -1;            // >= 0: a byte after the address and the length is lost
    int doubleByte = -1;          // >= 0: this byte arrives twice
};

enum class ReportKind {
    Active,        // "H": the station reports; the driver acknowledges
    Error,         // "E" code
    ControlError,  // "X"; the driver acknowledges
    CallCode,      // "Qq" with a 4-byte call code: the TL2 report after an answered call
};

struct Report {
    ReportKind kind = ReportKind::Active;
    uint32_t code = 0;  // the error code (Error) or the call code (CallCode)
};

enum class ModemMode { Command, Dialling, Answering, Data, OnlineCommand };

struct SimStatus {
    ModemMode mode = ModemMode::Command;
    bool connected = false;     // a call is up (Data or OnlineCommand)
    bool answeredCall = false;  // the call was made by ATA
    std::string number;         // the number dialled for the current/last call
    uint64_t connections = 0;   // calls connected so far
    uint64_t commands = 0;      // AT command lines taken
    uint64_t requests = 0;      // request frames taken (checked, for a known station)
    uint64_t answers = 0;       // answers sent (faulty ones included)
    uint64_t silenced = 0;      // requests left without an answer by a silence fault
    uint64_t badFrames = 0;     // frames with a wrong check byte
    uint64_t acknowledgements = 0;  // report acknowledgements received from the driver
    uint64_t ringsSent = 0;
    bool ringing = false;       // a caller is ringing (ATA would answer)
};

class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pseudo-terminal pair, makes the link, opens the trace, starts the thread.
    bool Start(std::string& error);
    // Stops the thread, closes the pty, removes the link. Safe to call twice.
    void Stop();
    // The slave side (what the driver opens), e.g. /dev/pts/7; empty before Start.
    std::string SlavePath() const;

    // Scenario text (see docs/simulator.md); lines run now or at their "at"/"every" times
    // counted from this call. False and "line N: ..." when a line cannot be read; nothing of
    // the text is run then.
    bool RunScenario(const std::string& text, std::string& error);
    bool RunScenarioFile(const std::string& path, std::string& error);
    // One command as typed at the prompt: as a scenario line, and its error names no line.
    bool RunCommand(const std::string& line, std::string& error);
    // Runs `command` on the simulator's thread `seconds` from now, and then every
    // `repeatSeconds` when that is above 0. The command runs without the simulator's lock
    // and may call any method but Stop.
    void At(double seconds, double repeatSeconds, std::function<void(Simulator&)> command);

    // Station image; `station` is the station's ADDRESS. False when there is no such station
    // or the index is out of range.
    bool SetBinaryIn(uint8_t station, int point, bool on);      // points 1..96
    bool BinaryOut(uint8_t station, int point, bool& on) const;  // as the driver last wrote it
    bool SetAnalogRaw(uint8_t station, int input, uint16_t raw);  // 1..64, "A" answers
    bool SetAnalogValue(uint8_t station, int input, double value);  // 1..64, the analog area
    bool AddAnalogRaw(uint8_t station, int input, int delta);       // keeps bit 15, wraps in 15 bits
    bool SetCounter(uint8_t station, int counter, uint16_t raw);   // 1..48
    bool Counter(uint8_t station, int counter, uint16_t& raw) const;
    bool SetMemoryIn(uint8_t station, int entry, double value);    // DEF_MEMORY_IN entry 1..100
    bool MemoryOut(uint8_t station, int entry, double& value) const;  // DEF_MEMORY_OUT entry
    bool SetConstant(uint8_t station, int index, double value);    // 1..8
    bool Constant(uint8_t station, int index, double& value) const;
    bool SetMemory(uint8_t station, uint16_t address, const Bytes& bytes);
    Bytes Memory(uint8_t station, uint16_t address, size_t count) const;
    bool SetBlockItem(uint8_t station, size_t block, size_t item, double value);  // from 1
    bool SetQq(uint8_t station, uint8_t d, uint8_t b, uint8_t a, std::array<uint8_t, 4> value);
    bool SetQqLong(uint8_t station, uint8_t d, uint8_t b, uint8_t a, int32_t value);
    bool SetQqReal(uint8_t station, uint8_t d, uint8_t b, uint8_t a, float value);
    // A text of up to 32 bytes in the chunks a, a+1, ... a+7 (4 bytes each, blank-filled).
    bool SetQqText(uint8_t station, uint8_t d, uint8_t b, uint8_t a, const Bytes& text);
    bool SetQqInvalid(uint8_t station, uint8_t d, uint8_t b, uint8_t a);  // BE BE BE BE
    bool Qq(uint8_t station, uint8_t d, uint8_t b, uint8_t a, std::array<uint8_t, 4>& value) const;
    bool SetSampleRow(uint8_t station, int table, int row, const std::array<int, 6>& dateTime, uint8_t state,
                      const std::array<double, 8>& values);
    bool SetHistoryRecord(uint8_t station, uint32_t record, uint16_t word, uint32_t seconds, float value);
    // The history ring (every station keeps one; see docs/simulator.md). AppendHistory: the
    // station samples `count` records at Top (time stamps seconds, seconds + step, ..., values
    // value, value + 1, ..., all with `word`), and Top moves on along the ring. Top and the
    // UserPos of user 1..8 are the QQ items 186/1/14 and 186/1/(user + 4); the driver's
    // write-back changes UserPos.
    bool AppendHistory(uint8_t station, uint16_t word, uint32_t seconds, float value, uint32_t count = 1,
                       uint32_t step = 60);
    bool SetHistoryTop(uint8_t station, uint32_t top);
    bool HistoryTop(uint8_t station, uint32_t& top) const;
    bool SetHistoryUserPos(uint8_t station, int user, uint32_t pos);
    bool HistoryUserPos(uint8_t station, int user, uint32_t& pos) const;
    // Replaces the station's history image as the source of "QN" reads at F00000..F7FFFF. The
    // reader runs on the simulator's thread with the simulator's lock held: it must not call
    // back into the Simulator.
    bool SetHistoryReader(uint8_t station, HistoryReader reader);

    // Modem and line
    // A number that connects (busy = false) or answers BUSY, besides the stations' PHONEs.
    void AddNumber(const std::string& number, bool busy);
    // Sends the ring text `count` times, ringIntervalMs apart, until answered.
    void Ring(int count);
    // A station calls: rings `count` times; once the driver answers (ATA), the station sends
    // `report` after reportDelayMs.
    bool Call(uint8_t station, int rings, Report report);
    // Sends a report now; false when no call is up or the station is unknown.
    bool SendReport(uint8_t station, Report report);
    // The carrier drops: "\r\nNO CARRIER\r\n" and back to command mode (no-op without a call).
    void DropCarrier();
    void InjectFault(const Fault& fault);
    void ClearFaults();
    // Sends raw bytes to the driver now (garbage, hand-made frames).
    void SendRaw(const Bytes& bytes);

    SimStatus Status() const;
    // Request frames taken so far (from the address byte through the check, no prefix).
    std::vector<Bytes> Requests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zksim
