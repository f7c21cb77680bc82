#include "platform/hashing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tv;

namespace {

// FIPS 180-2, appendix B.1 and B.2.
constexpr char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr char kTwoBlocks[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
constexpr char kTwoBlocksSha[] = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";

} // namespace

TEST(Hashing, KnownVectorsWholeAndPieceByPiece) {
    EXPECT_EQ(Sha256Hex("abc", 3), kAbc);
    EXPECT_EQ(Sha256Hex(kTwoBlocks, sizeof(kTwoBlocks) - 1), kTwoBlocksSha);

    CSha256 sha;
    sha.Update("ab", 2);
    sha.Update("c", 1);
    EXPECT_EQ(sha.FinishHex(), kAbc);
    // A finished hasher starts again from nothing.
    for (const char* p = kTwoBlocks; *p; ++p) {
        sha.Update(p, 1);
    }
    EXPECT_EQ(sha.FinishHex(), kTwoBlocksSha);
}

// The file is read in pieces; a file of a few pieces and a tail must hash
// as its bytes in memory do.
TEST(Hashing, FileHashEqualsTheHashOfItsBytes) {
    std::vector<uint8_t> bytes((3 << 20) + 12345);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 16));
    }
    char path[] = "/tmp/tv_hashing_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    std::string hex, error;
    uint64_t size = 0;
    uint64_t lastDone = 0, total = 0;
    EXPECT_EQ(Sha256OfFile(
                  path, &hex, &error,
                  [&](uint64_t done, uint64_t all) {
                      lastDone = done;
                      total = all;
                  },
                  nullptr, &size),
              1)
        << error;
    unlink(path);
    EXPECT_EQ(hex, Sha256Hex(bytes.data(), bytes.size()));
    EXPECT_EQ(size, bytes.size());
    EXPECT_EQ(lastDone, bytes.size());
    EXPECT_EQ(total, bytes.size());

    EXPECT_EQ(Sha256OfFile(path, &hex, &error), 0);
    EXPECT_NE(error.find(path), std::string::npos);
}
