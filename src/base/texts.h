// The catalogue of the driver's own texts that users see: the event list, the status window,
// the error texts handed to the host and the identification. Written in UTF-8, stored as
// code page 1250 (the _cp literal converts at compile time). Log tags are technical and stay
// where they are written.
#pragma once

#include <string_view>

#include "base/cp1250.h"

namespace zk::text {

// Identification.
inline constexpr std::string_view kDriverInfo = u8"Tervak-KR/TL2, MODEM, v.5.017"_cp;
inline constexpr std::string_view kLabelName = u8"Tervak KR/KRm/TL2, AT-MODEM, max. 100 stanic"_cp;
inline constexpr std::string_view kLabelVersion = u8"5.017 - 2007/08/20"_cp;
inline constexpr std::string_view kQueryGetVersion = u8"GetVersion"_cp;
inline constexpr std::string_view kDefaultDriverName = u8"ZKDKRMOD"_cp;

// Status window: the form's own texts before anything writes them.
inline constexpr std::string_view kFormCaption = u8"ZK Driver"_cp;
inline constexpr std::string_view kFormLabelName = u8"Název:"_cp;
inline constexpr std::string_view kFormLabelVersion = u8"Verze:"_cp;
inline constexpr std::string_view kFormEventList = u8"EventList"_cp;
inline constexpr std::string_view kFormGroupBox = u8"Stav ovladače"_cp;
inline constexpr std::string_view kFormLabelCom = u8"LabelCOM"_cp;
inline constexpr std::string_view kFormLabelIdle = u8"Interval hlavního threadu: "_cp;
inline constexpr std::string_view kFormLabelTransmit = u8"Nevyřízených požadavků:"_cp;
inline constexpr std::string_view kFormLabelPacket = u8"Komunikačních zpráv:"_cp;
inline constexpr std::string_view kFormLabelPrn = u8"Log:"_cp;
inline constexpr std::string_view kFormLabelMem = u8"LabelMem"_cp;

// Status lines (printf formats).
inline constexpr std::string_view kFmtLabelPrn = u8"Log: %s (%s)"_cp;
inline constexpr std::string_view kLogOn = u8"ZAP"_cp;
inline constexpr std::string_view kFmtLogNotWritten = u8"Log nelze zapsat: %s (%s)"_cp;
inline constexpr std::string_view kLogOff = u8"vyp"_cp;
inline constexpr std::string_view kFmtLabelCom = u8"Připojení: COM%d, %dBd, %d%s%d"_cp;
inline constexpr std::string_view kFmtLabelIdle = u8"Hlavní thread: %1.1fms (%1.1fms max, %1.1fms průměr)"_cp;
inline constexpr std::string_view kFmtLabelTransmit = u8"Nevyřízených požadavků: čtení: %1.0f, zápis: %1.0f"_cp;
inline constexpr std::string_view kFmtLabelPacket = u8"Kom.zpráv: Vysláno: %1.0f, Přijato: %1.0f, Chyb: %1.0f"_cp;
inline constexpr std::string_view kFmtLabelMemPrefix = u8"Alokovaná pamět: "_cp;
inline constexpr std::string_view kFmtLabelMemSuffix = u8" kB"_cp;

// Start-up.
inline constexpr std::string_view kDriverNameInHost = u8"Název ovladače v aplikaci: "_cp;
inline constexpr std::string_view kParameterFile = u8"Parametrický soubor: "_cp;
inline constexpr std::string_view kLoginLevel = u8"Úroveň pro přihlášení: "_cp;
inline constexpr std::string_view kHdbStart = u8"HDB..."_cp;
inline constexpr std::string_view kHdbOk = u8"HDB Ok."_cp;
inline constexpr std::string_view kInitOk = u8"Inicializace OK"_cp;
inline constexpr std::string_view kStatusWindowNotCreated = u8"Stavové okno nelze vytvořit: "_cp;
inline constexpr std::string_view kComInstallError = u8"Chyba instalace COM-portu !"_cp;
inline constexpr std::string_view kParFileOpenError = u8"Nelze otevřít parametrický soubor: "_cp;
inline constexpr std::string_view kParFileReadError = u8"Chyba čtení parametrického souboru: "_cp;

// Parameter file.
inline constexpr std::string_view kMissingEnd = u8"Chybí END na konci skupiny "_cp;
inline constexpr std::string_view kBadKey = u8"Chybná definice proměnné "_cp;
inline constexpr std::string_view kMissingGroup = u8"Chybí definice skupiny "_cp;
inline constexpr std::string_view kTooManyStations = u8"Prekrocen maximalni pocet stanic"_cp;
inline constexpr std::string_view kGlobalOk = u8"GLOBAL info OK."_cp;
inline constexpr std::string_view kStationLine = u8"STANICE "_cp;
inline constexpr std::string_view kStationQq = u8"  -> QQ/blok -> Tervak-Line2"_cp;

// Serial port.
inline constexpr std::string_view kPortInit = u8"Inicializace portu: "_cp;
inline constexpr std::string_view kPortOpenError = u8"Chyba při otevření portu !"_cp;
// "Port <device> ztracen: <the system's reason>": the device behind the open port has gone.
inline constexpr std::string_view kPortLostPrefix = u8"Port "_cp;
inline constexpr std::string_view kPortLostMiddle = u8" ztracen: "_cp;

// Host requests.
inline constexpr std::string_view kModemInitStart = u8"Inicializace AT-modemu..."_cp;
inline constexpr std::string_view kHangUpStart = u8"Zavěšení linky..."_cp;
inline constexpr std::string_view kHdbReadStart = u8"Start čtení HDB"_cp;
inline constexpr std::string_view kHdbReadInterrupted = u8"Přerušeno čtení HDB"_cp;
inline constexpr std::string_view kLabelQqWrite = u8" - QQ["_cp;
inline constexpr std::string_view kLabelBo = u8" - BO"_cp;
inline constexpr std::string_view kLabelMo = u8" - MO"_cp;
inline constexpr std::string_view kLabelBi = u8" - BI"_cp;
inline constexpr std::string_view kLabelKi = u8" - KI"_cp;
inline constexpr std::string_view kLabelMiSeparator = u8" - "_cp;
inline constexpr std::string_view kLabelMiSuffix = u8" x MI"_cp;
inline constexpr std::string_view kLabelKo = u8" - KO"_cp;
inline constexpr std::string_view kLabelAiKolmet = u8" - AI kolmet"_cp;
inline constexpr std::string_view kLabelAiTervak = u8" - AI tervak"_cp;
inline constexpr std::string_view kLabelCt = u8" - CT"_cp;
inline constexpr std::string_view kLabelMemoryBlock = u8" - čtení MB (memory block)"_cp;
inline constexpr std::string_view kLabelSetTimeouts = u8" - nastavení počítadla chyb = "_cp;
inline constexpr std::string_view kLabelSetMessages = u8" - nastavení počítadla zpráv = "_cp;
inline constexpr std::string_view kLabelSetCallCode = u8" - nastavení AH/CallCode = "_cp;

// Scheduler and driver thread.
inline constexpr std::string_view kQqWrite = u8" - QQ/zápis ("_cp;
inline constexpr std::string_view kQqRead = u8" - QQ/čtení ("_cp;
inline constexpr std::string_view kQueueCompacted = u8"Fronta požadavků pro TL2 zkomprimována ( "_cp;
inline constexpr std::string_view kTimeoutReport = u8" - překročení času ("_cp;
inline constexpr std::string_view kSleepStart = u8" - start módu \"sleep\""_cp;
inline constexpr std::string_view kSleepEnd = u8" - konec módu \"sleep\""_cp;
inline constexpr std::string_view kFullSleepEnd = u8"Konec úplného módu \"sleep\""_cp;
inline constexpr std::string_view kStationNumber = u8"Stanice č. "_cp;
inline constexpr std::string_view kRequestRefused = u8" - požadavek nelze sestavit, zrušen (druh "_cp;
inline constexpr std::string_view kFmtHdbComplete = u8"HDB: čtení dokončeno -> zápis nové \"UserPos\" (%d)"_cp;
inline constexpr std::string_view kHdbTimeout = u8"HDB: přerušeno čtení - timeout"_cp;

// Modem.
inline constexpr std::string_view kModemPrefix = u8"MODEM - "_cp;
inline constexpr std::string_view kModemReplyTimeout = u8"MODEM - Překročení času na odpověď"_cp;
inline constexpr std::string_view kModemUnexpectedReply = u8"MODEM - Chyba příjmu - neočekávaná odpověď"_cp;
inline constexpr std::string_view kModemInitOk = u8"MODEM - Inicializace OK"_cp;
inline constexpr std::string_view kModemConnected = u8" - připojena"_cp;
inline constexpr std::string_view kModemHungUp = u8"MODEM - Linka zavěšena"_cp;
inline constexpr std::string_view kModemAnswered = u8"MODEM - Aktivní linka připojena"_cp;
inline constexpr std::string_view kModemInitError = u8"MODEM - Chyba při inicializaci"_cp;
inline constexpr std::string_view kModemConnectError = u8"MODEM - Chyba při připojování"_cp;
inline constexpr std::string_view kModemHangUpError = u8"MODEM - Chyba při zavěšení linky"_cp;
inline constexpr std::string_view kModemRinging = u8"MODEM - Někdo volá..."_cp;
inline constexpr std::string_view kModemAnswering = u8"MODEM - Pokus o aktivní spojení..."_cp;
inline constexpr std::string_view kModemCallDropped = u8"MODEM - Spojení přerušeno (ztráta nosné)"_cp;

// Decoder labels and texts.
inline constexpr std::string_view kDecodeArrow = u8"<<<-- "_cp;
inline constexpr std::string_view kDecodeNameSeparator = u8" - "_cp;
inline constexpr std::string_view kLabelAiMorvel = u8"AImorvel "_cp;
inline constexpr std::string_view kLabelDecodeBi = u8"BI "_cp;
inline constexpr std::string_view kLabelDecodeBo = u8"BO "_cp;
inline constexpr std::string_view kLabelCtcReset = u8"CTC/nulování "_cp;
inline constexpr std::string_view kLabelCtc = u8"CTC "_cp;
inline constexpr std::string_view kLabelError = u8"chyba č."_cp;
inline constexpr std::string_view kLabelActiveReport = u8"AH "_cp;
inline constexpr std::string_view kLabelDecodeKi = u8"KI "_cp;
inline constexpr std::string_view kLabelDecodeKo = u8"KO "_cp;
inline constexpr std::string_view kLabelDecodeAi = u8"AI "_cp;
inline constexpr std::string_view kLabelMiBlock = u8"MI/block"_cp;
inline constexpr std::string_view kLabelMi = u8"MI "_cp;
inline constexpr std::string_view kLabelMb = u8"MB("_cp;
inline constexpr std::string_view kLabelMemoryWrite = u8"zápis na adr. "_cp;
inline constexpr std::string_view kLabelControlError = u8"chyba řízení "_cp;
inline constexpr std::string_view kLabelPassword = u8"HESLO "_cp;
inline constexpr std::string_view kLabelSamples = u8"vzorky ("_cp;
inline constexpr std::string_view kLabelSamplesTo = u8" až "_cp;
inline constexpr std::string_view kLabelQqWritten = u8"QQ/zápis"_cp;
inline constexpr std::string_view kLabelQqRead = u8"QQ/čtení ("_cp;
inline constexpr std::string_view kLabelTl2Report = u8"AH TL2 "_cp;
inline constexpr std::string_view kCommStart = u8"CONTROL CENTRE - COMM START\r\n"_cp;
inline constexpr std::string_view kCommStop = u8"CONTROL CENTRE - COMM STOP\r\n"_cp;

// Texts of the station's error reports, by code 0..8.
inline constexpr std::string_view kStationErrors[] = {
    u8"Příjem pasiv. hlášení OK"_cp, u8"Spojení nenavázáno"_cp,      u8"Chyba přenosu podstanice"_cp,
    u8"Chyba spoj. PC-CENTRÁLA"_cp,  u8"Příjem aktiv. hlášení OK"_cp, u8"Spojení přerušeno"_cp,
    u8"Chybný požadavek z PC"_cp,    u8"Chyba řízení na stanici"_cp,  u8"Chyba HESLA ve zprávě !"_cp,
};

// History.
inline constexpr std::string_view kHdbNothingNew = u8" HDB: pozice vyčteny. Nic nového."_cp;
inline constexpr std::string_view kFmtHdbPositions = u8"HDB: pozice vyčteny (UserPos=%d, Top=%d)."_cp;
inline constexpr std::string_view kHdbWriteBackDone = u8"HDB: zápis nové \"UserPos\" provedeno. "_cp;

}  // namespace zk::text
