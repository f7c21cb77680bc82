#include "synth/dct_reference.h"
#include "video/idct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

namespace tv {
namespace {

struct alignas(16) Block {
    int16_t v[64];
};

using IdctFn = void (*)(int16_t*);

struct NamedIdct {
    const char* name;
    IdctFn fn;
};

std::vector<NamedIdct> AllTransforms() {
    std::vector<NamedIdct> t = {{"generic", IdctGeneric}, {"simd-scalar", IdctSimdScalar}};
#if defined(__SSE2__)
    t.push_back({"simd-sse2", IdctSimdSse2});
#endif
    return t;
}

TEST(VideoIdct, DcOnlyBlocksInEveryVariant) {
    const struct {
        int16_t dc;
        int expect;
    } cases[] = {{1024, 128}, {2047, 255}, {-2048, 0}, {0, 0}, {8, 1}};
    for (const NamedIdct& t : AllTransforms()) {
        for (const auto& c : cases) {
            Block b{};
            b.v[0] = c.dc;
            t.fn(b.v);
            // The SIMD variants leave the saturation to 0..255 to their store.
            for (int i = 0; i < 64; ++i)
                ASSERT_EQ(std::clamp<int>(b.v[i], 0, 255), c.expect)
                    << t.name << " dc " << c.dc << " at " << i;
        }
    }
    // Through each variant's store as well.
    for (int variant = 0; variant < kVariantCount; ++variant) {
        DspContext ctx;
        InitDspContext(ctx, variant);
        Block b{};
        ctx.clearBlock(b.v);
        b.v[0] = 1024;
        ctx.idct(b.v);
        uint8_t out[8 * 10];
        std::memset(out, 0xEE, sizeof out);
        ctx.storeBlock(b.v, out, 10);
        for (int r = 0; r < 8; ++r) {
            for (int c = 0; c < 10; ++c)
                ASSERT_EQ(out[r * 10 + c], c < 8 ? 128 : 0xEE) << IdctVariantName(variant);
        }
    }
}

// The SSE2 realisation must give the very samples of the portable one, also
// where the 16-bit column arithmetic saturates.
TEST(VideoIdct, SimdRealisationsAgreeExactly) {
#if defined(__SSE2__)
    std::mt19937 rng(1180);
    for (int n = 0; n < 20000; ++n) {
        Block a{};
        const int kind = n % 5;
        for (int i = 0; i < 64; ++i) {
            if (kind == 4) // low frequencies only, as most coded blocks are
                a.v[i] = (i % 8 < 3 && i / 8 < 3) ? int16_t(int(rng() % 4096) - 2048) : 0;
            else if (kind == 0)
                a.v[i] = int16_t(int(rng() % 4096) - 2048);
            else if (kind == 1)
                a.v[i] = (rng() % 8 == 0) ? int16_t(int(rng() % 4096) - 2048) : 0;
            else if (kind == 2)
                a.v[i] = int16_t(rng() % 2 ? 2047 : -2048);
            else
                a.v[i] = int16_t(int(rng() % 601) - 300);
        }
        Block b = a;
        Block c = a;
        IdctSimdScalar(a.v);
        IdctSimdSse2(b.v);
        ASSERT_EQ(0, std::memcmp(a.v, b.v, sizeof a.v)) << "block " << n;
#if defined(__x86_64__)
        if (HasAvx2()) {
            IdctSimdAvx2(c.v);
            ASSERT_EQ(0, std::memcmp(a.v, c.v, sizeof a.v)) << "avx2 block " << n;
        }
#endif
    }
#else
    GTEST_SKIP() << "no SSE2 on this processor";
#endif
}

// Random input the way the 1180 accuracy procedure makes it.
class Rand1180 {
public:
    explicit Rand1180(long seed) : m_seed(seed) {}
    int Next(int low, int high) {
        m_seed = (m_seed * 1103515245 + 12345) % 4294967296LL;
        const double x = double(m_seed) / 4294967296.0;
        return int(x * (high - low + 1.0)) + low;
    }

private:
    long long m_seed;
};

struct Accuracy {
    double peak = 0;
    double pelMse = 0;  // worst per-pel mean square error
    double pelMean = 0; // worst per-pel |mean error|
    double mse = 0;
    double mean = 0;
};

Accuracy Measure(IdctFn fn, int low, int high, int sign, long seed) {
    Rand1180 rnd(seed);
    double errSum[64] = {}, errSq[64] = {};
    long count[64] = {};
    Accuracy acc;
    for (int n = 0; n < 10000; ++n) {
        double pix[64], coef[64], ref[64];
        for (int i = 0; i < 64; ++i)
            pix[i] = sign * rnd.Next(low, high);
        synth::ForwardDctDouble(pix, coef);
        Block b;
        double rc[64];
        for (int i = 0; i < 64; ++i) {
            rc[i] = std::clamp(std::round(coef[i]), -2048.0, 2047.0);
            b.v[i] = int16_t(rc[i]);
        }
        synth::InverseDctDouble(rc, ref);
        fn(b.v);
        for (int i = 0; i < 64; ++i) {
            const double r = std::clamp(std::round(ref[i]), -256.0, 255.0);
            if (r < 0 || r > 255)
                continue; // these transforms clamp to 0..255
            // The SIMD variants saturate to 0..255 in their store.
            const double e = std::clamp<int>(b.v[i], 0, 255) - r;
            acc.peak = std::max(acc.peak, std::fabs(e));
            errSum[i] += e;
            errSq[i] += e * e;
            ++count[i];
        }
    }
    double totalSum = 0, totalSq = 0;
    long total = 0;
    for (int i = 0; i < 64; ++i) {
        if (count[i] == 0)
            continue;
        acc.pelMse = std::max(acc.pelMse, errSq[i] / count[i]);
        acc.pelMean = std::max(acc.pelMean, std::fabs(errSum[i] / count[i]));
        totalSum += errSum[i];
        totalSq += errSq[i];
        total += count[i];
    }
    acc.mse = total ? totalSq / total : 0;
    acc.mean = total ? std::fabs(totalSum / total) : 0;
    return acc;
}

TEST(VideoIdct, AccuracyAgainstDoublePrecisionReference) {
    const struct { int low, high; } ranges[] = {{-256, 255}, {-5, 5}, {-300, 300}};
    const NamedIdct transforms[] = {{"generic", IdctGeneric}, {"simd", IdctSimd}};
    for (const NamedIdct& t : transforms) {
        for (const auto& r : ranges) {
            for (int sign : {1, -1}) {
                const Accuracy a = Measure(t.fn, r.low, r.high, sign, 1);
                std::printf(
                    "%-8s [%4d,%4d] sign %+d: peak %.0f pel-mse %.4f pel-mean %.4f mse %.4f "
                    "mean %.5f\n",
                    t.name, r.low, r.high, sign, a.peak, a.pelMse, a.pelMean, a.mse, a.mean);
                SCOPED_TRACE(t.name);
                EXPECT_LE(a.peak, 1);
                EXPECT_LE(a.pelMse, 0.06);
                EXPECT_LE(a.mse, 0.02);
                EXPECT_LE(a.pelMean, 0.015);
                // Only pels whose reference lies in 0..255 are compared, and
                // the output cannot go below 0 or above 255, so the overall
                // mean is biased at the range ends; its bound is looser.
                EXPECT_LE(a.mean, 0.005);
            }
        }
    }
}

TEST(VideoIdct, GenericShortcutsMatchFullArithmetic) {
    // For a DC-only block the full row formula gives 8 x DC and the full
    // column formula (8 x DC + 32) >> 6; the shortcuts must give the same.
    for (int dc = -2048; dc <= 2047; dc += 7) {
        Block b{};
        b.v[0] = int16_t(dc);
        IdctGeneric(b.v);
        const int expect = std::clamp(int(std::floor((dc * 8 + 32) / 64.0)), 0, 255);
        ASSERT_EQ(b.v[0], expect) << dc;
        ASSERT_EQ(b.v[63], expect) << dc;
    }
    // Rows with one AC value: shortcut skipped in rows, taken in columns.
    Block a{};
    a.v[1] = 64;
    a.v[0] = 1024;
    Block ref = a;
    IdctGeneric(a.v);
    double in[64], out[64];
    for (int i = 0; i < 64; ++i)
        in[i] = ref.v[i];
    synth::InverseDctDouble(in, out);
    for (int i = 0; i < 64; ++i)
        EXPECT_NEAR(a.v[i], out[i], 1.0) << i;
}

// The decoder's shortcuts: a DC-only block is a fill, and the fused
// transform-and-store gives the samples of the transform and the store apart,
// leaving the block clear, on sparse blocks of every shape and on saturating ones.
TEST(VideoIdct, ShortcutsGiveTheFullTransformsSamples) {
    std::mt19937 rng(64);
    for (int variant = 0; variant < kVariantCount; ++variant) {
        DspContext ctx;
        InitDspContext(ctx, variant);
        SCOPED_TRACE(IdctVariantName(variant));
        EXPECT_TRUE(ctx.dcFlat);
        for (int d = 0; d < 256; ++d)
            ASSERT_EQ(ctx.dcSample[d], d);
        for (int n = 0; n < 6000; ++n) {
            Block a{};
            const int shape = n % 6;
            for (int i = 0; i < 64; ++i) {
                const bool row0 = i < 8, col0 = i % 8 == 0;
                const bool keep = shape == 0   ? row0
                                  : shape == 1 ? col0
                                  : shape == 2 ? i < 24
                                  : shape == 3 ? rng() % 8 == 0
                                               : true;
                if (keep && (shape != 3 || i > 0))
                    a.v[i] = shape == 5 || (shape < 2 && n % 4 == 0)
                                 ? int16_t(rng() % 2 ? 2047 : -2048)
                                 : int16_t(int(rng() % (shape < 2 ? 4096 : 1024)) -
                                           (shape < 2 ? 2048 : 512));
            }
            Block full = a;
            ctx.idct(full.v);
            uint8_t want[8 * 12], got[8 * 12];
            std::memset(want, 0xEE, sizeof want);
            std::memset(got, 0xEE, sizeof got);
            ctx.storeBlock(full.v, want, 12);
            ctx.idctPut(a.v, got, 12);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "block " << n;
            for (int i = 0; i < 64; ++i)
                ASSERT_EQ(a.v[i], 0) << "block " << n;
        }
    }
}

TEST(VideoIdct, VariantSelectionLaterMatchWins) {
    CpuFeatures none;
    EXPECT_EQ(SelectIdctVariant(none), kVariantGeneric);
    CpuFeatures mmx;
    mmx.mmx = true;
    EXPECT_EQ(SelectIdctVariant(mmx), kVariantMmx);
    CpuFeatures sse = mmx;
    sse.cmov = true;
    sse.sse = true;
    EXPECT_EQ(SelectIdctVariant(sse), kVariantMmxSse);
    CpuFeatures sse2 = sse;
    sse2.sse2 = true;
    EXPECT_EQ(SelectIdctVariant(sse2), kVariantSse2);
    CpuFeatures noCmov = sse2;
    noCmov.cmov = false;
    EXPECT_EQ(SelectIdctVariant(noCmov), kVariantMmx);

    EXPECT_EQ(IdctVariantFromName("generic"), kVariantGeneric);
    EXPECT_EQ(IdctVariantFromName("simd"), kVariantSse2);
    EXPECT_EQ(IdctVariantFromName("bogus"), -1);
    DspContext ctx;
    EXPECT_EQ(InitDspContext(ctx, 99), kVariantGeneric);
    EXPECT_EQ(ctx.idct, &IdctGeneric);
}

TEST(VideoIdct, BlockClipTable) {
    const int16_t* clip = BlockClipTable();
    EXPECT_EQ(clip[-512], 0);
    EXPECT_EQ(clip[-1], 0);
    EXPECT_EQ(clip[0], 0);
    EXPECT_EQ(clip[200], 200);
    EXPECT_EQ(clip[255], 255);
    EXPECT_EQ(clip[511], 255);
}

} // namespace
} // namespace tv
