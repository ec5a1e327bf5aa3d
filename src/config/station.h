// The stations of the parameter file: their definitions (station groups, channel items,
// memory blocks) and the data image that the answers fill and the host reads. The context
// holds 100 of them, indexed 1..100.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/shortstr.h"

namespace zk {

inline constexpr int kMaxStations = 100;

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

// The station slots of an instance, indexed 1..100 (slot 0 unused).
using StationSlots = std::array<std::unique_ptr<StationRecord>, kMaxStations + 1>;

// The station with index 1..count (an existing record), or nullptr.
StationRecord* DefinedStation(const StationSlots& stations, int count, int index);

}  // namespace zk
