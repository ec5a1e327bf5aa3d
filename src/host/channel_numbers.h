// The numbers of the system channels (tier 2) and the driver-wide channels (tier 4), as
// docs/channels.md lists them. Reading and writing use different sets of numbers; a number
// that serves both is listed once.
#pragma once

#include <cstdint>

namespace zk::channel {

// ---- Tier 4: driver-wide channels (reading; 486 and 487 also take writes) ----
inline constexpr std::uint16_t kMessagesSent = 486;        // read and set the sent counter
inline constexpr std::uint16_t kSuspendInputs = 487;       // write: suspend InputRequest
inline constexpr std::uint16_t kZero = 488;
inline constexpr std::uint16_t kSinceAnswer = 489;          // seconds since the last complete answer
inline constexpr std::uint16_t kRequestsWaiting = 490;     // reads + writes
inline constexpr std::uint16_t kOutstandingKind = 491;     // request kind being served
inline constexpr std::uint16_t kFullSleepLeft = 492;       // remaining all-stations sleep
inline constexpr std::uint16_t kFramesSeen = 493;          // frame starts seen
inline constexpr std::uint16_t kOutstandingStation = 494;  // station being served
inline constexpr std::uint16_t kTxState = 495;             // transmit state
inline constexpr std::uint16_t kHeapInUse = 496;
inline constexpr std::uint16_t kWritesWaiting = 497;
inline constexpr std::uint16_t kFramesAccepted = 498;
inline constexpr std::uint16_t kSinceTransmit = 499;       // seconds since the last transmission

// ---- Tier 2: the memory-block table ----
inline constexpr std::uint16_t kTableStation = 60000;      // write: station read next
inline constexpr std::uint16_t kTableKind = 60001;         // write: kind 1..3
inline constexpr std::uint16_t kTableRow = 60002;          // write: TableRow 1..528
inline constexpr std::uint16_t kTableRead = 60003;         // write: read the table
inline constexpr std::uint16_t kRowStateFirst = 60004;     // read: state bytes 1..6 of the row
inline constexpr std::uint16_t kRowStateLast = 60009;
inline constexpr std::uint16_t kRowCellFirst = 60010;      // read: cells 1..8 of the row
inline constexpr std::uint16_t kRowCellLast = 60017;
inline constexpr std::uint16_t kTableReading = 60018;      // read: a table read is in progress
inline constexpr std::uint16_t kTableSave = 60021;         // write: save the .CUC file
inline constexpr std::uint16_t kTableSaved = 60022;        // read and set the save result
inline constexpr std::uint16_t kRowBitFirst = 60100;       // read: the row's cell bits
inline constexpr std::uint16_t kRowBitLast = 60291;
inline constexpr std::uint16_t kTableAltKinds = 60292;     // write: second table of kinds

// ---- Tier 2: the modem ----
inline constexpr std::uint16_t kModemInit = 60293;         // write: initialise the modem
inline constexpr std::uint16_t kModemReady = 60294;        // read: the last initialisation succeeded
inline constexpr std::uint16_t kHangUp = 60295;            // write: hang up

// ---- Tier 2: worker, history and test injection ----
inline constexpr std::uint16_t kBeep = 65398;              // write: beep switch
inline constexpr std::uint16_t kPassInterval = 65399;      // read: the last pass interval
inline constexpr std::uint16_t kHdbStation = 65400;
inline constexpr std::uint16_t kHdbArchive = 65401;
inline constexpr std::uint16_t kHdbReadPosition = 65402;   // read
inline constexpr std::uint16_t kHdbWritePosition = 65403;  // read
inline constexpr std::uint16_t kHdbReadState = 65404;      // read
inline constexpr std::uint16_t kHdbReadTime = 65405;       // read
inline constexpr std::uint16_t kHdbReadTimeout = 65406;
inline constexpr std::uint16_t kHdbStart = 65407;          // write
inline constexpr std::uint16_t kHdbInterrupt = 65408;      // write
inline constexpr std::uint16_t kHdbItem13 = 65409;         // read
inline constexpr std::uint16_t kHdbBrowse = 65410;         // HdbUserPos
inline constexpr std::uint16_t kHdbRecordWord = 65411;     // read: the browsed record
inline constexpr std::uint16_t kHdbRecordStamp = 65412;
inline constexpr std::uint16_t kHdbRecordValue = 65413;
inline constexpr std::uint16_t kHdbCapacity = 65414;       // read
inline constexpr std::uint16_t kHdbSaveAll = 65415;        // write
inline constexpr std::uint16_t kHdbDateFirst = 65416;      // read: day, month, year, hour, minute, second
inline constexpr std::uint16_t kHdbDateLast = 65421;
inline constexpr std::uint16_t kClearQueues = 65531;       // write
inline constexpr std::uint16_t kHostBuffer = 65532;        // read: the shared buffer
inline constexpr std::uint16_t kTestValue = 65533;
inline constexpr std::uint16_t kTestChannel = 65534;
inline constexpr std::uint16_t kTestFlag = 65535;

}  // namespace zk::channel
