#include "zkhost/status_text.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/text.h"

namespace zkhost {

StatusText ParseStatusText(const std::string& text) {
    StatusText out;
    std::size_t label = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() < 2 || line[1] != ' ') continue;
        std::string body;
        for (std::size_t i = 2; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '\\') {
                body += '\\';
                ++i;
            } else {
                body += line[i];  // \r and \n stay visible as written
            }
        }
        body = zktool::FromCp1250(body);
        switch (line[0]) {
            case 'R': out.Revision = std::strtoull(body.c_str(), nullptr, 10), out.Valid = true; break;
            case 'C': out.Caption = body; break;
            case 'N': out.Name = body; break;
            case 'V': out.Version = body; break;
            case 'E': out.Events.push_back(body); break;
            case 'L':
                if (label < out.Labels.size()) out.Labels[label++] = body;
                break;
            default: break;
        }
    }
    return out;
}

StatusText FetchStatusText(zktool::DriverApi& api, void* driver) {
    std::vector<char> buffer(16384, '\0');
    const auto address = reinterpret_cast<std::uintptr_t>(buffer.data());
    const auto low = static_cast<std::uint32_t>(address & 0xFFFFFFFFu);
    const auto high = static_cast<std::uint32_t>(static_cast<std::uint64_t>(address) >> 32);
    api.DriverProc(driver, kStatusTextCode, low, high, static_cast<std::uint32_t>(buffer.size()), 0);
    return ParseStatusText(std::string(buffer.data()));
}

std::vector<std::string> NewEventLines(const std::vector<std::string>& before, const std::vector<std::string>& now) {
    // The longest k such that the last k lines of `before` are the first k lines of `now`.
    std::size_t best = 0;
    for (std::size_t k = std::min(before.size(), now.size()); k > 0; --k) {
        bool same = true;
        for (std::size_t i = 0; i < k && same; ++i) same = before[before.size() - k + i] == now[i];
        if (same) {
            best = k;
            break;
        }
    }
    return std::vector<std::string>(now.begin() + static_cast<long>(best), now.end());
}

}  // namespace zkhost
