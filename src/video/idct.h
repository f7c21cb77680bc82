#pragma once

#include "platform/system.h"

#include <cstdint>

namespace tv {

// In-place 8x8 inverse transforms of dequantised coefficients (raster order)
// into samples 0..255. The generic one is the integer Chen-Wang transform; the
// SIMD one is the row-column transform with 32-bit rows and 16-bit saturating
// columns, in a portable scalar form and an SSE2 form that give identical
// samples. The block must be 16-byte aligned for the SSE2 form.
void IdctGeneric(int16_t* block);
void IdctSimdScalar(int16_t* block);
#if defined(__SSE2__)
void IdctSimdSse2(int16_t* block);
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Two rows per instruction; only on processors with AVX2 (see HasAvx2).
void IdctSimdAvx2(int16_t* block);
bool HasAvx2();
#endif
// The best available realisation of the SIMD transform.
void IdctSimd(int16_t* block);

// Samples -512..511 clamped to 0..255, for the generic column pass.
const int16_t* BlockClipTable();

// Decoder variants in the order they are considered; a later match wins.
enum IdctVariantId {
    kVariantGeneric = 0,
    kVariantMmx = 1,
    kVariantMmxSse = 2,
    kVariantSse2 = 3,
    kVariantCount = 4,
};

// The per-block operations of one variant, filled once so the decode loop
// never asks which processor it runs on.
struct DspContext {
    int variant = kVariantGeneric;
    void (*clearBlock)(int16_t* block) = nullptr;
    void (*idct)(int16_t* block) = nullptr;
    // Writes 8 rows of 8 samples to dst, pitch bytes apart.
    void (*storeBlock)(const int16_t* block, uint8_t* dst, int pitch) = nullptr;
    // idct and storeBlock in one, leaving the block all zero for the next one.
    void (*idctPut)(int16_t* block, uint8_t* dst, int pitch) = nullptr;
    // The samples of a block whose only coefficient is block[0] = 8 x d, taken
    // from idct and storeBlock themselves for every d; dcFlat when each of
    // those blocks came out as 64 equal samples, so that a fill can stand in.
    uint8_t dcSample[256] = {};
    bool dcFlat = false;
};

// The variant the processor's features select: generic, then MMX (MMX), then
// MMX-SSE (CMOV and SSE), then SSE2 (CMOV and SSE2).
int SelectIdctVariant(const CpuFeatures& cpu);
// Fills ctx for a variant id; an unknown id gives the generic variant. Returns
// the id filled in.
int InitDspContext(DspContext& ctx, int variant);
const char* IdctVariantName(int variant);
// "generic", "mmx", "mmx-sse", "sse2", or "simd" (the best SIMD variant); -1 if unknown.
int IdctVariantFromName(const char* name);

} // namespace tv
