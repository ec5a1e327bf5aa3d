// Fixed-capacity byte strings: every text inside the driver that the protocol, the files or
// the event list limit to N characters is one of these, and every append cuts at N.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace zk {

template <std::size_t N>
struct ShortStr {
    static_assert(N >= 1 && N <= 255, "a short string holds at most 255 characters");
    static constexpr std::size_t Capacity = N;

    std::uint8_t len = 0;
    char data[N] = {};

    ShortStr() = default;
    ShortStr(std::string_view s) { assign(s); }  // NOLINT: implicit from text is the point
    ShortStr(const char* s) { assign(s ? std::string_view(s) : std::string_view()); }

    template <std::size_t M>
    ShortStr(const ShortStr<M>& other) { assign(other.view()); }  // NOLINT

    ShortStr& assign(std::string_view s) {
        len = static_cast<std::uint8_t>(std::min(s.size(), N));
        if (len) std::memcpy(data, s.data(), len);
        return *this;
    }
    ShortStr& append(std::string_view s) {
        const std::size_t room = N - len;
        const std::size_t n = std::min(s.size(), room);
        if (n) std::memcpy(data + len, s.data(), n);
        len = static_cast<std::uint8_t>(len + n);
        return *this;
    }
    ShortStr& append(char c) {
        if (len < N) data[len++] = c;
        return *this;
    }
    ShortStr& operator+=(std::string_view s) { return append(s); }
    ShortStr& operator+=(char c) { return append(c); }
    template <std::size_t M>
    ShortStr& operator+=(const ShortStr<M>& s) { return append(s.view()); }

    void clear() { len = 0; }
    bool empty() const { return len == 0; }
    std::size_t size() const { return len; }
    std::string_view view() const { return {data, len}; }
    std::string str() const { return std::string(data, len); }
    operator std::string_view() const { return view(); }  // NOLINT

    // Byte i (0-based) as an unsigned value; callers check the size.
    std::uint8_t byte(std::size_t i) const { return static_cast<std::uint8_t>(data[i]); }
    char& operator[](std::size_t i) { return data[i]; }
    char operator[](std::size_t i) const { return data[i]; }

    // Keeps the first n characters.
    void truncate(std::size_t n) {
        if (n < len) len = static_cast<std::uint8_t>(n);
    }
    // Deletes the first n characters.
    void eraseFront(std::size_t n) {
        n = std::min<std::size_t>(n, len);
        std::memmove(data, data + n, len - n);
        len = static_cast<std::uint8_t>(len - n);
    }

    friend bool operator==(const ShortStr& a, const ShortStr& b) { return a.view() == b.view(); }
    friend bool operator==(const ShortStr& a, std::string_view b) { return a.view() == b; }
};

using Str255 = ShortStr<255>;

// The first n characters of a text.
inline std::string_view Cut(std::string_view s, std::size_t n) { return s.substr(0, std::min(n, s.size())); }

// Appends to a std::string and keeps it within n characters.
inline void AppendCut(std::string& s, std::string_view part, std::size_t n = 255) {
    if (s.size() >= n) {
        s.resize(n);
        return;
    }
    s.append(part.substr(0, n - s.size()));
}

}  // namespace zk
