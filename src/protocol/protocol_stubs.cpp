// Placeholder until the encoder, the framing and the decoder exist.
#include "protocol/decoder.h"
#include "protocol/encoder.h"
#include "protocol/framing.h"

namespace zk {

Str255 CodeMess(DriverContext&, const RequestNode&) { return {}; }
bool XorCheck(std::string_view s) {
    if (s.empty()) return false;
    std::uint8_t x = 0;
    for (std::size_t i = 0; i + 1 < s.size(); ++i) x ^= static_cast<std::uint8_t>(s[i]);
    return x == static_cast<std::uint8_t>(s.back());
}
bool ReceiveDATA(DriverContext&) { return false; }
void ExtractDATA(DriverContext& ctx) {
    ReceiveEntry e;
    TakeReceived(ctx.ReceiveQueue, e);
}
bool DecodeMess(DriverContext&, std::string_view, std::string_view) { return false; }
ChannelItem* FindQqChannel(StationRecord&, std::uint8_t, std::uint8_t, std::uint8_t, int& chunk) {
    chunk = 0;
    return nullptr;
}

}  // namespace zk
