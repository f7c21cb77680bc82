#include "platform/json_text.h"

#include <cstdio>

namespace tv {

size_t Utf8Sequence(const unsigned char* p, size_t n) {
    const unsigned char c = p[0];
    size_t len = 0;
    unsigned lo = 0x80;
    unsigned hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi) {
        return 0;
    }
    for (size_t i = 2; i < len; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF) {
            return 0;
        }
    }
    return len;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\u%04x", c);
            out += buf;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (const size_t len = Utf8Sequence(p + i, n - i); len > 0) {
            out.append(s, i, len);
            i += len;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\u%04x", c);
            out += buf;
            ++i;
        }
    }
    return out + "\"";
}

} // namespace tv
