#pragma once

// Wire formats of the recorder session: control messages framed by 00 00 01 FE
// with four-digit hexadecimal fields, the login digest, and the dynamic-IP
// request and answer. Pure functions, shared by the client, the simulator,
// the tests and the fuzzers.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tv {

constexpr uint8_t kControlStartByte = 0xFE;
constexpr uint32_t kControlHeaderSize = 12; // start code, length, type
constexpr uint32_t kControlMaxSize = 1024;  // the control assembly

// Message types the client sends.
constexpr int kMsgLogin = 0x81;
constexpr int kMsgRemoteKey = 0x85;
constexpr int kMsgLogout = 0x86;
constexpr int kMsgMouse = 0x89;

constexpr uint32_t kLoginMessageSize = 44;
constexpr uint32_t kRemoteKeyMessageSize = 16;
constexpr uint32_t kLogoutMessageSize = 12;
constexpr uint32_t kMouseMessageSize = 32;

// Message types the recorder sends.
constexpr int kMsgLoginPending = 1;
constexpr int kMsgTypeLoginRefused = 2;
constexpr int kMsgLoginAccepted = 3;
constexpr int kMsgTypeLoginRefused2 = 4;
constexpr int kMsgStatusValue = 7;
constexpr int kMsgStatusValues = 8;
constexpr int kMsgDisconnect = 11;

constexpr uint32_t kDdnsMagic = 0xAA55AA55u;
constexpr uint32_t kDdnsRequestSize = 12;
constexpr uint32_t kDdnsAnswerSize = 10;
constexpr uint32_t kDdnsNameSize = 8;

// Writes v as four upper-case hexadecimal digits.
void PutHex16(uint8_t* out, uint16_t v);
// Reads four hexadecimal digits in either case; any other character makes the field 0.
uint16_t GetHex16(const uint8_t* p);

// Writes the start code, the length and the type of a control message.
void PutControlHeader(uint8_t* out, uint16_t length, uint16_t type);
// Builds a control message with the given 16-bit parameters; returns its length
// (12 + 4 * count), or 0 when it does not fit in cap.
uint32_t BuildControlMessage(uint8_t* out, uint32_t cap, uint16_t type, const uint16_t* params,
                             uint32_t count);

// MD5 of the password in Windows-1252 (the password is UTF-8 text). False when
// the digest service fails.
bool PasswordDigest(const std::string& password, uint8_t digest[16]);
// The 44-byte login message; false when the digest cannot be computed.
bool BuildLoginMessage(const std::string& password, uint8_t out[kLoginMessageSize]);
void BuildRemoteKeyMessage(int code, uint8_t out[kRemoteKeyMessageSize]);
void BuildLogoutMessage(uint8_t out[kLogoutMessageSize]);
void BuildMouseMessage(int code, int width, int height, int x, int y,
                       uint8_t out[kMouseMessageSize]);

// What one receive of the login answer says.
enum class LoginAnswer {
    NeedMore, // the message is not complete yet
    Pending,  // type 1: keep waiting
    Accepted, // type 3
    Refused,  // type 2 or 4, reason given
    Error,    // anything else: "LOGIN ERROR"
};

struct LoginAnswerResult {
    LoginAnswer answer = LoginAnswer::NeedMore;
    int reason = 0;
    // Bytes of the buffer the answer took; a pending answer is followed by the
    // rest of the exchange.
    uint32_t consumed = 0;
};

// Looks at the first message of the buffer.
LoginAnswerResult ParseLoginAnswer(const uint8_t* p, size_t n);
// Works through the answers collected in buf[0, have): pending answers are
// taken off the front (a pending answer may share a receive with the final
// one). Returns the first answer that decides the login, or NeedMore with
// `have` reduced to what is left.
LoginAnswerResult TakeLoginAnswer(uint8_t* buf, size_t& have);
// The error text for a refusal reason.
const char* RefusalText(int reason);

void BuildDdnsRequest(const std::string& name, uint8_t out[kDdnsRequestSize]);

enum class DdnsAnswer { NeedMore, Ok, Error };
// Reads the answer's address (dotted form) and port.
DdnsAnswer ParseDdnsAnswer(const uint8_t* p, size_t n, std::string& host, uint16_t& port);

// Parses a dotted IPv4 address into network byte order; false when it is not one.
bool ParseIpv4(const std::string& host, uint32_t& addrNetworkOrder);

} // namespace tv
