// The lexical layer of the parameter file: items, comments, group headers and the values of
// the keys, read in one forward pass over the file's bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/shortstr.h"
#include "config/settings.h"
#include "config/station.h"
#include "diag/log.h"
#include "line/modem.h"

namespace zk {

struct StatusWindow;

// What loading the parameter file fills and reports to: the settings, the modem record, the
// station slots, the log and the error text for the host. The instance builds it for a load.
struct ConfigContext {
    GlobalSettings& Global;
    ComSettings& Com;
    ModemRecord& Modem;
    StationSlots& Stations;
    std::uint8_t& StationCount;
    LogState& Log;
    const Str255& DriverName;     // names the default log file when "$DIAGS" switches it on
    const Str255& ParFileName;
    char (&ErrorText)[256];       // NUL-terminated, at most 80 characters
    StatusWindow* Window;         // the event list of the load, or none
};

inline constexpr int kMaxKeyIndex = 57;  // the largest key table ([STATION]) has 57 entries

// What the loaders noticed on their way through the file, for a tool that shows a person what
// the driver made of it. The loaders fill it only when the reader is given one; loading is the
// same with or without it.
enum class ParNoteKind {
    KeySeen,        // a key of the group was found (Key, Line): where each setting stands
    UnknownKey,     // an item that is no key of the group was skipped
    HeaderInGroup,  // a group header stood inside an open group (its END is missing)
    SkippedItem,    // an item outside every group was passed over while a group was looked for
    BadValue,       // the value item of Key did not parse (Item); the setting fell back
    KeyMissing,     // a mandatory key is absent or invalid; the group failed
    MissingEnd,     // the file ended inside the group
    ValueCut,       // a number was stored cut to its width or kept to its limit (Item as written, Detail stored)
    LineCut,        // the rest of a line beyond 255 characters was dropped (Item: what was dropped)
    Swallowed,      // words on the rest of a string value's line were taken into it and ignored (Item)
};

struct ParNote {
    ParNoteKind Kind = ParNoteKind::KeySeen;
    int Line = 0;          // 1-based line of the item concerned
    std::string Group;     // "[COM]", "[MODEM]", "[GLOBAL]", "[STATION]"
    int Station = 0;       // the station index for "[STATION]", else 0
    std::string Key;       // the key's name as the table spells it
    std::string Item;      // the item as written
    std::size_t Pos = 0;   // its offset in the file
    std::string Detail;    // what became of it (the value stored, the reason), or empty
};

struct ParDiagnostics {
    std::vector<ParNote> Notes;
};

struct ParReader {
    std::string_view Text;  // the file's bytes up to its first Ctrl-Z
    std::size_t Pos = 0;
    char LastSeparator = 0;  // the separator that ended the last token; 0 at the end of the file

    ShortStr<80> Item;  // the current item in upper case (ASCII letters), its first 80 characters
    Str255 RawItem;     // the current item as written
    bool InComment = false;
    std::array<bool, kMaxKeyIndex + 1> KeyLoaded{};
    bool GroupMissing = false;

    // Where the items stand, for the diagnostics.
    ParDiagnostics* Diag = nullptr;
    std::size_t ItemPos = 0;      // offset of the current item
    std::size_t PrevItemPos = 0;  // offset of the item before it
    std::size_t GroupPos = 0;     // offset of the last group header found
    int BadValues = 0;            // values that did not parse so far
    Str255 BadItem;               // the last of them, as written
    std::size_t BadPos = 0;       // and its offset
    std::vector<ParNote> Pending;  // notes about the value being loaded, until its key is known

    explicit ParReader(std::string_view bytes);
    bool AtEnd() const { return Pos >= Text.size(); }
};

// One entry of a group's key table.
struct KeyEntry {
    std::string_view Name;
};

// ---- Items --------------------------------------------------------------------------------

// The next run of non-separators (at most 255 kept), or empty at the end of the file.
Str255 ReadToken(ParReader& r);
// The next item outside comments into Item and RawItem; "$DIAGS" switches the log on.
void NextItem(const ConfigContext& ctx, ParReader& r);
// Item equals the keyword, ASCII letters compared without case, over the first 80 characters.
bool ItemIs(const ParReader& r, std::string_view keyword);
// Clears KeyLoaded and reads forward to the group header; sets GroupMissing and ErrorText when
// the file ends first.
void SetGroupPos(const ConfigContext& ctx, ParReader& r, std::string_view group);
// The rest of the current line after the separator that ended the current item (at most 255
// characters, without the line end, which is skipped); empty when the item ended its line.
Str255 RestOfLine(ParReader& r);

// ---- Values ---------------------------------------------------------------------------------

// An optionally signed decimal, or hexadecimal after "$", "x", "X", "0x" or "0X"; the value must
// fit in a signed 32-bit integer.
std::optional<std::int32_t> ParseInteger(std::string_view text);
// An optionally signed decimal real with an optional fraction and exponent.
std::optional<double> ParseReal(std::string_view text);
// The string syntax: quoted parts taken literally, $hh character codes, everything else ignored.
std::optional<std::string> ParseStringValue(std::string_view text);

inline constexpr double kBadReal = -999999.9;  // what a real that does not parse stores

bool LoadWord(const ConfigContext& ctx, ParReader& r, int key, std::uint16_t& target);
bool LoadLongWord(ParReader& r, int key, std::int32_t& target);
bool LoadByte(ParReader& r, int key, std::uint8_t& target);
bool LoadReal(ParReader& r, int key, double& target);
// NONE, or the string read from the value item and the rest of its line. The value item
// arrives in upper case unless `keepCase` (a file name where names keep their case).
std::optional<std::string> LoadStringValue(const ConfigContext& ctx, ParReader& r, int key, bool keepCase = false);
template <std::size_t N>
bool LoadString(const ConfigContext& ctx, ParReader& r, int key, ShortStr<N>& target, bool keepCase = false) {
    auto value = LoadStringValue(ctx, r, key, keepCase);
    if (!value) return false;
    target.assign(*value);
    return true;
}
bool LoadSwitch(const ConfigContext& ctx, ParReader& r, int key, bool& target);

// ---- The keyed-group pattern ----------------------------------------------------------------

// Index (1-based) of the first key of the table that the current item matches, or 0.
int FindKey(const ParReader& r, const KeyEntry* keys, int count);
// ErrorText := "Chybí END na konci skupiny " + group, cut to 52.
void SetMissingEndError(const ConfigContext& ctx, std::string_view group);
// ErrorText := "Chybná definice proměnné " + key (50) + " / " (53) + group (78).
void SetBadKeyError(const ConfigContext& ctx, std::string_view key, std::string_view group);
// Sets ErrorText, cut to 80 characters.
void SetParError(const ConfigContext& ctx, std::string_view text);
// The lowest index 1..count-1 (the last entry is END) whose KeyLoaded flag is false, or 0.
int FirstKeyNotLoaded(const ParReader& r, int count);

// ---- Diagnostics (nothing happens unless r.Diag is set) ------------------------------------

// The 1-based line of an offset into the file.
int LineOf(const ParReader& r, std::size_t pos);
void AddNote(ParReader& r, ParNoteKind kind, std::string_view group, int station, std::string_view key,
             std::string_view item, std::size_t pos);
// A key of the group was found at the current item.
void NoteKey(ParReader& r, std::string_view group, int station, std::string_view key);
// The current item matched no key of the group: a header inside the group, an unknown key, or
// the value that followed an unknown key (not noted again).
void NoteUnmatched(ParReader& r, std::string_view group, int station);
// Values that failed since `before` (a BadValues count) are noted under the key, with the
// pending notes of its value.
void NoteBadValue(ParReader& r, int before, std::string_view group, int station, std::string_view key);
// A note about the value being loaded, at the current item; NoteBadValue gives it its key.
void NoteValue(ParReader& r, ParNoteKind kind, std::string_view detail);
void NoteValueAt(ParReader& r, ParNoteKind kind, std::string_view item, std::size_t pos, std::string_view detail);
// A count that the loader keeps to its limit.
void NoteLimit(ParReader& r, std::string_view written, unsigned stored);
// Every key of the table (but END) whose KeyLoaded flag is false, at the group's header.
void NoteMissingKeys(ParReader& r, const KeyEntry* keys, int count, std::string_view group, int station);

}  // namespace zk
