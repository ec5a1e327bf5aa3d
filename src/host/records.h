// The state of one driver instance: the driver record the host holds, its context, the 100
// station records, the channel items and memory blocks of the parameter file, and the modem
// record. Reals the stations keep in their own forms are held here as doubles.
//
// Threads. The host's thread runs the exports; the worker thread runs the passes. Both hold
// DriverContext::Lock while they touch the queues, the station records, the channel items,
// the memory blocks, the text table, the modem record, the history state or the status
// window. Neither holds it across port I/O, a sleep or a wait for the other thread. The
// fields that one side reads without the lock are std::atomic.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/shortstr.h"
#include "base/wake_signal.h"
#include "diag/log.h"
#include "host/queues.h"
#include "line/line.h"
#include "platform/platform.h"

namespace zk {

class TSerial;
class DrvThread;
struct StatusWindow;
class StatusView;
struct ChannelIndex;

inline constexpr int kMaxStations = 100;
inline constexpr int kTableRows = 528;
inline constexpr std::size_t kHostBufferSize = 16862;
inline constexpr std::size_t kHdbRecords = 50000;
inline constexpr std::size_t kHdbRecordSize = 10;
inline constexpr std::size_t kHdbBytes = kHdbRecords * kHdbRecordSize;  // 500 000

// ---- Parameter-file records ---------------------------------------------------------------

// Channel item types (QQ definitions).
enum QqType : std::uint8_t { QqByte = 1, QqWord = 2, QqInteger = 3, QqCardinal = 4, QqLongint = 5, QqReal = 6, QqString = 7 };
// Channel item directions.
enum QqDirection : std::uint8_t { DirRead = 1, DirWrite = 2, DirBidir = 3 };
// Memory-block element directions.
enum ElementDirection : std::uint8_t { ElemInput = 1, ElemOutput = 2, ElemBidir = 3 };

struct ChannelItem {
    std::uint16_t Channel = 0;
    std::uint8_t Direction = 0;
    std::uint8_t Address[3] = {0, 0, 0};  // the station memory address as the protocol writes it
    std::uint8_t Type = 0;
    float Value = 0.0f;
    std::int32_t RawValue = 0;
    Str255 Text;  // 32 blanks and a NUL at creation

    ChannelItem();
};

struct MemoryBlock {
    std::uint16_t Addr = 65535;  // 65535: not set
    std::uint16_t Channel = 0;   // element k has Channel + k - 1
    std::uint8_t TotalSize = 0;  // sum of the element sizes (8-bit)
    Str255 Types;                // one type code (QqType 1..6) per element
    Str255 Directions;           // one ElementDirection per element
    std::array<ShortStr<4>, 255> Cells;  // each element's bytes as the station stores them
    std::uint16_t ChannelRead = 0;

    MemoryBlock();
};

// Size in station memory of a memory-block element type (1..6); 0 for anything else.
std::uint8_t ElementSize(std::uint8_t type);

// Memory inputs and outputs: station address, value and type (1 BYTE, 2 WORD, 3 REAL).
struct MemoryEntry {
    std::uint16_t Address = 0;
    double Value = 0.0;
    std::uint8_t Type = 3;
};

// Counters: the value the host reads, the factor of a raw count, the value at start-up, the
// mode (counter kind 1..8; 1 replaces the value, the others add to it) and the last raw count.
struct CounterEntry {
    double Value = 0.0;
    double Factor = 1.0;
    double StartValue = 0.0;
    std::uint8_t Mode = 1;
    std::uint16_t RawCount = 0;
};

// Analog scaling: upper and lower limit, an offset added to the raw value, the last raw value.
struct AnalogLimit {
    double Upper = 100.0;
    double Lower = 0.0;
    double Offset = 0.0;
    std::uint16_t LastRaw = 0;
};

// Implicit channel kinds whose numbers a station group sets (BlockBase is indexed by kind).
enum ChannelKind : int {
    KindBinaryIn = 1, KindBinaryOut = 2, KindAnalog = 3, KindCounter = 4, KindMemoryIn = 5, KindMemoryOut = 6,
    KindErrorNoAnswer = 7, KindErrorInMess = 8, KindSilenceTime = 9, KindSleepTime = 10, KindErrCount = 11,
    KindVideo = 12,
    KindOutReadAiMorvel = 13, KindOutReadCt = 14, KindOutWriteBo = 15, KindOutWriteMo = 16, KindInNowComm = 17,
    KindInLastComErr = 18, KindBiNewBi = 19, KindBiNewAi = 20, KindBiNewCt = 21, KindBiNewMi = 22,
    KindBiNewErrControl = 23, KindOutWriteRestart = 24, KindOutReadBi = 25, KindOutReadKi = 26, KindOutWriteKo = 27,
    KindOutReadAi = 28, KindOutConnectModem = 29, KindInConnectingModem = 30, KindInConnectedModem = 31,
    KindInActiveMessage = 32, KindOutWriteAllBoMo = 33,
    KindMemoryElement = 34, KindMemoryBlockRead = 35,
    KindMsgCounter = 36, KindNameChannel = 37, KindCallCode = 38,
};

// ---- Station ------------------------------------------------------------------------------

struct StationRecord {
    // Definition (parameter file).
    std::uint8_t Address = 0;        // ADDRESS: the station's address in frames
    std::uint8_t Retranslation = 0;  // RETRANSLATION: the station frames pass through
    ShortStr<80> Name;
    std::uint8_t NumBinarIn = 0, NumBinarOut = 0, NumAnalogIn = 0, NumCounterIn = 0, NumMemoryIn = 0,
                 NumMemoryOut = 0;
    std::array<bool, 97> InvertIn{};   // 1..96
    std::array<bool, 97> InvertOut{};  // 1..96
    std::uint16_t DefAnalogInAddr = 0;
    std::array<MemoryEntry, 101> MemoryIn{};   // 1..100 (at most 45 used)
    std::array<MemoryEntry, 101> MemoryOut{};  // 1..100; entries 1..8 are the station's constants
    std::array<CounterEntry, 49> Counters{};   // 1..48
    std::array<AnalogLimit, 65> AnalogLimits{};  // 1..64
    ShortStr<20> PhoneNumber;
    bool KiFlag = false;
    bool WholeBlockRead = false;
    std::array<std::uint16_t, 39> BlockBase{};  // channel numbers by ChannelKind (34, 35 unused)
    std::vector<std::unique_ptr<ChannelItem>> Channels;
    std::vector<std::unique_ptr<MemoryBlock>> MemoryBlocks;
    std::uint16_t WordAfterBlocks = 0;

    // Data image (decoder and host).
    std::array<bool, 97> BinaryIn{};    // group 1
    std::array<bool, 97> BinaryOut{};   // group 2 (the host's)
    std::array<double, 65> Analog{};    // group 3
    std::array<std::array<char, 256>, 4> DisplayLines{};  // NUL-terminated

    // Communication counters and state.
    std::uint32_t RequestCount = 0;
    std::uint32_t TimeoutCount = 0;
    std::uint32_t ErrorReportCount = 0;
    double ElapsedTime = 0.0;
    std::uint16_t ErrorCount = 0;
    std::uint8_t RetryCount = 0;
    double SleepLeft = 0.0;
    std::uint32_t CallCode = 0;

    // Flags. The status flags of kinds 19..23 and 32 are BiFresh, AiFresh, CtcFresh, MemFresh,
    // ControlError and ActiveReport: the decoder sets them, the host reads and clears them.
    bool BiFresh = false, AiFresh = false, CtcFresh = false, MemFresh = false;
    bool ControlError = false, ActiveReport = false;
    bool Unreachable = false;
    bool AwaitingAnswer = false;
    bool OnLine = false;
    bool DialRequested = false;

    // History buffer of 500 000 bytes, or none.
    std::unique_ptr<std::uint8_t[]> Hdb;
};

// The status flag of kind 19..23 or 32; nullptr for other kinds.
bool* StatusFlagOfKind(StationRecord& s, int kind);

// ---- Memory-block table -------------------------------------------------------------------

struct TextRow {
    std::uint8_t State[7] = {};
    std::array<ShortStr<3>, 8> Cells;
};

// ---- Modem --------------------------------------------------------------------------------

struct CommandBlock {
    Str255 Command;
    Str255 ExpectedReply;
    double Elapsed = 0.0;  // seconds
    double Limit = 0.0;    // seconds
};

enum ModemCommandKind : std::uint8_t { ModemInit = 1, ModemDial = 2, ModemHangUp = 3, ModemAnswer = 4 };

struct ModemCommand {
    std::uint8_t Kind = 0;
    CommandBlock Block;  // a copy at queuing time; Block.Elapsed is the command's own timer
    Str255 Number;
    Str255 Suffix;
};

struct ModemRecord {
    std::atomic<bool> ModemInitRequest{false};
    std::uint8_t ModemState = 0;  // 0 idle, 1 sending, 2 awaiting the reply, 3 failed
    CommandBlock InitBlock, DialBlock, AnswerBlock, HangupBlock;
    Str255 DialSuffix;
    Str255 RingText;
    std::uint8_t RingCount = 0;
    std::uint8_t RingsToAnswer = 6;
    double SinceRing = 0.0;
    double RingTimeout = 10.0;
    std::atomic<bool> LineConnected{false};
    double TotalConnectedTime = 0.0;
    double ConnectedTime = 0.0;
    std::uint32_t ConnectionCount = 0;
    std::atomic<bool> ModemReady{false};
    Str255 PendingText;
    Str255 ReplyText;
    bool Pausing = false;
    std::int32_t ModemLastTick = 0;
    std::deque<ModemCommand> CommandQueue;  // head first
    std::array<double, 12> ModemMsTimers{};  // milliseconds
    bool TerminatorTaken = false;
};

// ---- Context ------------------------------------------------------------------------------

struct DriverContext {
    std::mutex Lock;  // the instance's lock (see the top of this file)
    zk::Clock Clock;  // time source of every timer and time stamp

    std::atomic<bool> StopRequest{false};
    ShortStr<27> KeyCodes;
    std::atomic<double> FullSleepLeft{0.0};
    std::unique_ptr<TextRow[]> TextTable;  // rows 1..528 at [0..527]
    std::uint16_t MbWords[6] = {};

    // Memory-block read.
    std::uint8_t MbStation = 1;
    std::uint8_t MbRequestStation = 1;
    std::atomic<bool> MbActive{false};
    std::uint16_t TableRow = 1;
    TextRow RowBuffer;
    std::uint8_t MbKindIndex = 1;
    std::atomic<bool> MbAltKinds{false};
    bool MbFileFlag = false;

    // History read-out and browsing.
    std::int32_t HdbStation = 1;
    std::int32_t HdbNumber = 1;  // archive 1..8
    std::int32_t HdbWritePos = 0;
    std::int32_t HdbTop = 0;
    std::int32_t HdbItem13 = 0;
    std::int32_t HdbCapacity = 0;
    std::int32_t HdbReadState = 0;
    double HdbReadTime = 0.0;
    double HdbReadTimeout = 600.0;
    std::uint16_t HdbUserPos = 0;
    std::atomic<bool> HdbFlag{false};
    std::uint16_t HdbDate[6] = {};  // day, month, year, hour, minute, second
    // The history reads of the read-out whose data have not arrived yet: station address →
    // byte count. A read that leaves the queue without its data leaves its entry here.
    std::map<std::uint32_t, std::uint32_t> HdbAwaited;

    // Worker timing (milliseconds; LastPassTime is a date-time value).
    std::atomic<double> IntervalSum{0.0};
    std::atomic<double> PassCount{0.0};
    double LastPassTime = 0.0;
    std::atomic<double> PassInterval{0.0};
    std::atomic<double> MaxPassInterval{0.0};
    bool WorkerBusy = false;

    char ErrorText[256] = {};
    Str255 ParFileName;

    // Test injection.
    std::uint16_t TestChannel = 1;
    double TestValue = 0.0;
    bool TestFlag = false;

    std::uint8_t StationCount = 0;
    std::array<std::unique_ptr<StationRecord>, kMaxStations + 1> Stations;  // 1..100
    // The channel lookup built from the loaded stations (host/channels.h); none until built.
    std::shared_ptr<const ChannelIndex> ChannelLookup;

    // [GLOBAL]
    std::uint8_t ADDRESS = 0;
    Str255 PREFIX, SUFFIX, PRESUFFIX;
    double ANSWER_TIME = 0.0;
    std::uint16_t SILENCE_WAIT = 0;
    std::uint16_t RTS_TIME_ON = 0, RTS_TIME_OFF = 0;
    std::uint16_t DEF_ANALOG_IN_ADDR = 65535;
    std::uint8_t NUM_MORVEL_ERROR = 1;
    Str255 CUC_PATH;
    bool STAY_IN_QUEUE_ON_TIMEOUT = false;
    std::atomic<bool> BEEP{false};
    double SLEEP_TIME = 0.0;
    std::uint16_t SLEEP_COUNT = 100;
    std::int32_t IDLE_TIME = 10;
    bool PrstynekRun = false;

    // [COM]
    ShortStr<80> DriverKind;  // the DRIVER name
    std::uint16_t ComPort = 0, IRQ = 0, BASE = 0, BaudRate = 0, DataBits = 0, Parity = 0, StopBits = 0, OPTIONS = 0,
                  BUFFER_SIZE = 0;
    Str255 DEVICE;  // the port's device name instead of the platform's name of ComPort

    // Outstanding request (host reads them as channels 491 and 494).
    std::atomic<std::uint8_t> OutKind{0};
    std::atomic<std::uint8_t> OutStation{1};

    LogState Log;

    // Communication statistics (host reads them as channels).
    std::atomic<double> SinceAnswer{0.0};
    std::atomic<double> SinceTransmit{0.0};
    std::atomic<double> AcceptedCount{0.0};
    std::atomic<double> ReceivedCount{0.0};
    std::atomic<double> SentCount{0.0};
    std::atomic<double> ErrorTotal{0.0};
    std::int32_t LastTick = 0;
    std::int32_t StatsResetTime = 0;
    bool WriteChosen = false;
    bool ReadChosen = false;
    std::array<double, 13> MsTimers{};  // 1..12, milliseconds

    // Scheduler.
    bool Outstanding = false;
    bool AckPending = false;
    Str255 AckText;
    std::atomic<bool> HoldPolling{false};
    std::int32_t MergeLimit = 60;
    std::uint16_t RingStation = 1, RingBlock = 0, RingItem = 1;
    std::uint8_t LineCode = 222;
    std::atomic<std::uint8_t> TxState{0};
    Str255 TxMessage;

    // Queues.
    zk::ReceiveQueue ReceiveQueue;
    RequestQueue WriteQueue;
    RequestQueue ReadQueue;

    // Receive framing.
    Str255 PrefixWindow;
    Str255 RxFrame;
    Str255 LastTxMessage;

    ModemRecord Modem;
    bool AnsweredCall = false;
    // The modem machine asks for the serial set-up again; the worker runs it after it has
    // released the lock (worker thread only).
    bool ReopenPortRequested = false;
    // A tone (its frequency in Hz) that the scheduler asks for; the worker sounds it after it
    // has released the lock (worker thread only).
    std::uint16_t BeepRequested = 0;

    std::uint8_t* HostBuffer = nullptr;  // the host's shared buffer (kHostBufferSize bytes)

    Str255 PendingEventText;
    std::atomic<bool> InputsSuspended{false};
    Str255 DriverName;

    // The worker's line (worker thread only).
    LinePort Line;

    DriverContext();
    ~DriverContext();
    DriverContext(const DriverContext&) = delete;
    DriverContext& operator=(const DriverContext&) = delete;
};

// The current local time of day in hundredths of a second, from the instance's clock.
std::int32_t CentisecondsOfDay(const DriverContext& ctx);

// The station with index 1..StationCount (an existing record), or nullptr.
StationRecord* DefinedStation(DriverContext& ctx, int index);

// ---- Driver record ------------------------------------------------------------------------

struct DriverRecord {
    std::uint32_t Magic = 0x5A4B4452;      // "ZKDR" while the record lives
    std::unique_ptr<StatusWindow> Window;  // created by Init, freed by Done
    std::unique_ptr<StatusView> View;      // the window on the screen (Windows), before the model goes
    std::unique_ptr<DrvThread> Thread;     // exists while the worker runs
    std::uint32_t LoginLevel = 0;
    std::uint32_t InitArg9 = 0;
    std::uint32_t InitArg8 = 0;
    std::atomic<bool> Running{false};
    // Ends the worker's pause between passes: raised by the port's receive event, by the host's
    // requests and by a stop. Declared before the port, whose event thread raises it, so that
    // it outlives the port.
    WakeSignal Wake;
    // Serialises the port's set-up: the worker (after a failed command or a hang-up) and the
    // host (a dial) may both reopen the port, and neither may close it under the other.
    // Never taken while the instance's lock is held.
    std::mutex PortSetupLock;
    std::unique_ptr<DriverContext> Context;
    std::unique_ptr<TSerial> SerialPort;

    DriverRecord();
    ~DriverRecord();
    DriverRecord(const DriverRecord&) = delete;
    DriverRecord& operator=(const DriverRecord&) = delete;
};

}  // namespace zk
