#include "net/net_message.h"

#include "platform/win_types.h"

#include <arpa/inet.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace tv {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

constexpr uint8_t kControlStart[4] = {0x00, 0x00, 0x01, kControlStartByte};

} // namespace

void PutHex16(uint8_t* out, uint16_t v) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(kHexDigits[(v >> (12 - 4 * i)) & 0xF]);
    }
}

uint16_t GetHex16(const uint8_t* p) {
    uint16_t v = 0;
    for (int i = 0; i < 4; ++i) {
        const int d = HexValue(p[i]);
        if (d < 0) {
            return 0;
        }
        v = static_cast<uint16_t>((v << 4) | d);
    }
    return v;
}

void PutControlHeader(uint8_t* out, uint16_t length, uint16_t type) {
    std::memcpy(out, kControlStart, 4);
    PutHex16(out + 4, length);
    PutHex16(out + 8, type);
}

uint32_t BuildControlMessage(uint8_t* out, uint32_t cap, uint16_t type, const uint16_t* params,
                             uint32_t count) {
    const uint32_t length = kControlHeaderSize + 4 * count;
    if (length > cap || length > 0xFFFF) {
        return 0;
    }
    PutControlHeader(out, static_cast<uint16_t>(length), type);
    for (uint32_t i = 0; i < count; ++i) {
        PutHex16(out + kControlHeaderSize + 4 * i, params[i]);
    }
    return length;
}

bool PasswordDigest(const std::string& password, uint8_t digest[16]) {
    const std::string ansi = ToWindows1252(password);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned int len = 0;
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), ansi.data(), ansi.size()) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1 || len != 16) {
        return false;
    }
    return true;
}

bool BuildLoginMessage(const std::string& password, uint8_t out[kLoginMessageSize]) {
    uint8_t digest[16];
    if (!PasswordDigest(password, digest)) {
        return false;
    }
    PutControlHeader(out, kLoginMessageSize, kMsgLogin);
    for (int i = 0; i < 16; ++i) {
        out[12 + 2 * i] = static_cast<uint8_t>(kHexDigits[digest[i] >> 4]);
        out[13 + 2 * i] = static_cast<uint8_t>(kHexDigits[digest[i] & 0xF]);
    }
    return true;
}

void BuildRemoteKeyMessage(int code, uint8_t out[kRemoteKeyMessageSize]) {
    const uint16_t param = static_cast<uint16_t>(code & 0xFF);
    BuildControlMessage(out, kRemoteKeyMessageSize, kMsgRemoteKey, &param, 1);
}

void BuildLogoutMessage(uint8_t out[kLogoutMessageSize]) {
    BuildControlMessage(out, kLogoutMessageSize, kMsgLogout, nullptr, 0);
}

void BuildMouseMessage(int code, int width, int height, int x, int y,
                       uint8_t out[kMouseMessageSize]) {
    const uint16_t params[5] = {static_cast<uint16_t>(code), static_cast<uint16_t>(width),
                                static_cast<uint16_t>(height), static_cast<uint16_t>(x),
                                static_cast<uint16_t>(y)};
    BuildControlMessage(out, kMouseMessageSize, kMsgMouse, params, 5);
}

LoginAnswerResult ParseLoginAnswer(const uint8_t* p, size_t n) {
    LoginAnswerResult r;
    if (std::memcmp(p, kControlStart, n < 4 ? n : 4) != 0) {
        r.answer = LoginAnswer::Error;
        r.consumed = static_cast<uint32_t>(n);
        return r;
    }
    if (n < kControlHeaderSize) {
        return r; // NeedMore
    }
    const uint16_t length = GetHex16(p + 4);
    const bool lengthValid = length >= kControlHeaderSize && length <= kControlMaxSize;
    switch (GetHex16(p + 8)) {
    case kMsgLoginPending:
        if (lengthValid && length > n) {
            return r; // NeedMore
        }
        r.answer = LoginAnswer::Pending;
        // An answer with a broken length gives no way to find the next message.
        r.consumed = lengthValid ? length : static_cast<uint32_t>(n);
        return r;
    case kMsgLoginAccepted:
        r.answer = LoginAnswer::Accepted;
        r.consumed = static_cast<uint32_t>(n);
        return r;
    case kMsgTypeLoginRefused:
    case kMsgTypeLoginRefused2:
        if (n >= 16) {
            r.reason = GetHex16(p + 12);
        } else if (length >= 16) {
            return r; // the reason is on its way
        }
        r.answer = LoginAnswer::Refused;
        r.consumed = static_cast<uint32_t>(n);
        return r;
    default:
        r.answer = LoginAnswer::Error;
        r.consumed = static_cast<uint32_t>(n);
        return r;
    }
}

LoginAnswerResult TakeLoginAnswer(uint8_t* buf, size_t& have) {
    for (;;) {
        const LoginAnswerResult r = ParseLoginAnswer(buf, have);
        if (r.answer != LoginAnswer::Pending) {
            return r;
        }
        std::memmove(buf, buf + r.consumed, have - r.consumed);
        have -= r.consumed;
        if (have == 0) {
            return LoginAnswerResult{};
        }
    }
}

const char* RefusalText(int reason) {
    switch (reason) {
    case 1:
        return "Too many client.";
    case 2:
        return "Incorrect password.";
    case 3:
        return "Bad network";
    default:
        return "Unkown error.";
    }
}

void BuildDdnsRequest(const std::string& name, uint8_t out[kDdnsRequestSize]) {
    PutLe32(out, kDdnsMagic);
    std::memset(out + 4, 0, kDdnsNameSize);
    const std::string ansi = ToWindows1252(name);
    std::memcpy(out + 4, ansi.data(), ansi.size() < kDdnsNameSize ? ansi.size() : kDdnsNameSize);
}

DdnsAnswer ParseDdnsAnswer(const uint8_t* p, size_t n, std::string& host, uint16_t& port) {
    uint8_t magic[4];
    PutLe32(magic, kDdnsMagic);
    if (std::memcmp(p, magic, n < 4 ? n : 4) != 0) {
        return DdnsAnswer::Error;
    }
    if (n < kDdnsAnswerSize) {
        return DdnsAnswer::NeedMore;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", p[4], p[5], p[6], p[7]);
    host = text;
    port = GetLe16(p + 8);
    return DdnsAnswer::Ok;
}

bool ParseIpv4(const std::string& host, uint32_t& addrNetworkOrder) {
    const std::string ansi = ToWindows1252(host);
    in_addr a{};
    if (inet_pton(AF_INET, ansi.c_str(), &a) != 1) {
        return false;
    }
    addrNetworkOrder = a.s_addr;
    return true;
}

} // namespace tv
