// The response decoder: received frames into the stations' data image.
#pragma once

#include <cstdint>

#include "base/shortstr.h"
#include "host/records.h"
#include "protocol/framing.h"

namespace zk {

// Decodes the oldest entry of ReceiveQueue, if any, logs the result and frees the entry.
// The caller holds the instance's lock.
void ExtractDATA(DriverContext& ctx);

// Decodes one frame (first address byte through the check byte) stored with the request text
// it answers. True when it came from a known station and was addressed to the driver.
// `askedStation` is the station whose request waited for an answer when the frame arrived
// (0: none). A frame from another station then brings only its reports (active report,
// control error, error report); its data items are dropped and counted in ErrorTotal.
bool DecodeMess(DriverContext& ctx, std::string_view frame, std::string_view request, int askedStation = 0);


// The channel item of station `s` with the QQ address d, b, a and the text-chunk number (0 for
// a whole item, 1..8 for the chunks of a STRING item), or nullptr.
ChannelItem* FindQqChannel(StationRecord& s, std::uint8_t d, std::uint8_t b, std::uint8_t a, int& chunk);

}  // namespace zk
