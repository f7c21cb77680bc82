#include "net/net_message.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tv {
namespace {

std::string Text(const uint8_t* p, size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

std::vector<uint8_t> Msg(const std::string& fields) {
    const std::string all = std::string("\0\0\1\xFE", 4) + fields;
    return std::vector<uint8_t>(all.begin(), all.end());
}

TEST(NetMessage, HexFieldsWriteUpperCaseAndReadEitherCase) {
    uint8_t buf[4];
    PutHex16(buf, 0xBEEF);
    EXPECT_EQ(Text(buf, 4), "BEEF");
    PutHex16(buf, 0x002C);
    EXPECT_EQ(Text(buf, 4), "002C");

    EXPECT_EQ(GetHex16(reinterpret_cast<const uint8_t*>("000b")), 11);
    EXPECT_EQ(GetHex16(reinterpret_cast<const uint8_t*>("000B")), 11);
    EXPECT_EQ(GetHex16(reinterpret_cast<const uint8_t*>("aBcD")), 0xABCD);
    // Any character outside the hexadecimal digits makes the whole field 0.
    EXPECT_EQ(GetHex16(reinterpret_cast<const uint8_t*>("00G1")), 0);
    EXPECT_EQ(GetHex16(reinterpret_cast<const uint8_t*>("12 4")), 0);
    EXPECT_EQ(GetHex16(reinterpret_cast<const uint8_t*>("-001")), 0);
}

TEST(NetMessage, LoginCarriesTheDigestOfThePasswordInWindows1252) {
    uint8_t msg[kLoginMessageSize];
    ASSERT_TRUE(BuildLoginMessage("", msg));
    const uint8_t start[4] = {0, 0, 1, 0xFE};
    EXPECT_EQ(std::memcmp(msg, start, 4), 0);
    EXPECT_EQ(Text(msg + 4, 8), "002C0081");
    // The empty password is the digest of zero bytes.
    EXPECT_EQ(Text(msg + 12, 32), "D41D8CD98F00B204E9800998ECF8427E");

    ASSERT_TRUE(BuildLoginMessage("abc", msg));
    EXPECT_EQ(Text(msg + 12, 32), "900150983CD24FB0D6963F7D28E17F72");
    // "été" in UTF-8 is digested as the three bytes E9 74 E9.
    ASSERT_TRUE(BuildLoginMessage("\xC3\xA9t\xC3\xA9", msg));
    EXPECT_EQ(Text(msg + 12, 32), "70B06E3087350C8C4FC3F13E741879F3");
    // The euro sign is byte 0x80 in the code page.
    ASSERT_TRUE(BuildLoginMessage("\xE2\x82\xAC", msg));
    EXPECT_EQ(Text(msg + 12, 32), "8D39DD7EEF115EA6975446EF4082951F");
}

TEST(NetMessage, RemoteKeyLogoutAndMouseLayouts) {
    uint8_t key[kRemoteKeyMessageSize];
    BuildRemoteKeyMessage(132, key);
    EXPECT_EQ(Text(key + 4, 12), "001000850084");
    // Only the low 8 bits of a code travel.
    BuildRemoteKeyMessage(0x1FF, key);
    EXPECT_EQ(Text(key + 12, 4), "00FF");

    uint8_t logout[kLogoutMessageSize];
    BuildLogoutMessage(logout);
    EXPECT_EQ(Text(logout + 4, 8), "000C0086");

    uint8_t mouse[kMouseMessageSize];
    BuildMouseMessage(0x101, 640, 480, 17, 300, mouse);
    EXPECT_EQ(Text(mouse + 4, 28), "002000890101028001E00011012C");
}

TEST(NetMessage, LoginAnswers) {
    auto parse = [](const std::vector<uint8_t>& m) { return ParseLoginAnswer(m.data(), m.size()); };

    EXPECT_EQ(parse(Msg("000C0003")).answer, LoginAnswer::Accepted);
    auto pending = parse(Msg("000C0001"));
    EXPECT_EQ(pending.answer, LoginAnswer::Pending);
    EXPECT_EQ(pending.consumed, 12u);

    auto refused = parse(Msg("001000020002"));
    EXPECT_EQ(refused.answer, LoginAnswer::Refused);
    EXPECT_EQ(refused.reason, 2);
    EXPECT_STREQ(RefusalText(refused.reason), "Incorrect password.");
    refused = parse(Msg("001000040001"));
    EXPECT_EQ(refused.answer, LoginAnswer::Refused);
    EXPECT_STREQ(RefusalText(refused.reason), "Too many client.");
    EXPECT_STREQ(RefusalText(3), "Bad network");
    // A reason with a non-hexadecimal character reads as 0.
    refused = parse(Msg("00100002000x"));
    EXPECT_EQ(refused.reason, 0);
    EXPECT_STREQ(RefusalText(refused.reason), "Unkown error.");
    // A refusal sent without a reason field.
    refused = parse(Msg("000C0002"));
    EXPECT_EQ(refused.answer, LoginAnswer::Refused);
    EXPECT_EQ(refused.reason, 0);

    // Other bytes first, or another type, is a login error.
    const std::vector<uint8_t> http = {'H', 'T', 'T', 'P', '/', '1', '.', '0', ' ', '4', '0', '0'};
    EXPECT_EQ(parse(http).answer, LoginAnswer::Error);
    EXPECT_EQ(parse(Msg("000C0007")).answer, LoginAnswer::Error);
    EXPECT_EQ(parse(Msg("000C000b")).answer, LoginAnswer::Error);
    EXPECT_EQ(parse({0x00, 0x00, 0x02}).answer, LoginAnswer::Error);

    // Incomplete answers wait for more bytes.
    EXPECT_EQ(parse({0x00, 0x00}).answer, LoginAnswer::NeedMore);
    EXPECT_EQ(parse(Msg("000C00")).answer, LoginAnswer::NeedMore);
    EXPECT_EQ(parse(Msg("00100002")).answer, LoginAnswer::NeedMore);

    // Stream data behind an acceptance is not looked at.
    auto withData = Msg("000C0003");
    withData.insert(withData.end(), {0x00, 0x00, 0x01, 0xF8, 0x80});
    EXPECT_EQ(parse(withData).answer, LoginAnswer::Accepted);
}

TEST(NetMessage, DdnsRequestAndAnswer) {
    uint8_t req[kDdnsRequestSize];
    BuildDdnsRequest("ABCDEFGHIJ", req);
    const uint8_t magic[4] = {0x55, 0xAA, 0x55, 0xAA};
    EXPECT_EQ(std::memcmp(req, magic, 4), 0);
    EXPECT_EQ(Text(req + 4, 8), "ABCDEFGH");
    BuildDdnsRequest("dvr", req);
    EXPECT_EQ(Text(req + 4, 3), "dvr");
    for (int i = 7; i < 12; ++i) {
        EXPECT_EQ(req[i], 0) << i;
    }

    const uint8_t answer[10] = {0x55, 0xAA, 0x55, 0xAA, 192, 168, 1, 20, 0x90, 0x1F};
    std::string host;
    uint16_t port = 0;
    EXPECT_EQ(ParseDdnsAnswer(answer, 10, host, port), DdnsAnswer::Ok);
    EXPECT_EQ(host, "192.168.1.20");
    EXPECT_EQ(port, 8080);
    EXPECT_EQ(ParseDdnsAnswer(answer, 6, host, port), DdnsAnswer::NeedMore);
    const uint8_t wrong[10] = {0xAA, 0x55, 0xAA, 0x55, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(ParseDdnsAnswer(wrong, 10, host, port), DdnsAnswer::Error);
    EXPECT_EQ(ParseDdnsAnswer(wrong, 1, host, port), DdnsAnswer::Error);
}

TEST(NetMessage, OnlyDottedAddressesParse) {
    uint32_t a = 0;
    EXPECT_TRUE(ParseIpv4("127.0.0.1", a));
    EXPECT_EQ(a, htonl(0x7F000001));
    EXPECT_FALSE(ParseIpv4("localhost", a));
    EXPECT_FALSE(ParseIpv4("1.2.3.256", a));
    EXPECT_FALSE(ParseIpv4("", a));
}

} // namespace
} // namespace tv
