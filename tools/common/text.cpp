#include "common/text.h"

#include <iconv.h>

#include <vector>

namespace zktool {

namespace {
std::string Convert(const char* to, const char* from, std::string_view in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    std::vector<char> out(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            if (dstLeft == 0) break;
            *dst++ = '?';  // a byte the other side cannot show
            --dstLeft;
            ++src;
            --srcLeft;
        }
    }
    iconv_close(cd);
    return std::string(out.data(), static_cast<std::size_t>(dst - out.data()));
}
}  // namespace

std::string FromCp1250(std::string_view cp1250) { return Convert("UTF-8", "CP1250", cp1250); }
std::string ToCp1250(std::string_view utf8) { return Convert("CP1250", "UTF-8", utf8); }

}  // namespace zktool
