#include "synth/dct_reference.h"

#include <cmath>
#include <numbers>

namespace tv::synth {

namespace {

// basis[u][x] = C(u)/2 * cos((2x + 1) u pi / 16)
struct Basis {
    double c[8][8];
    Basis() {
        for (int u = 0; u < 8; ++u) {
            const double cu = u == 0 ? std::sqrt(0.5) : 1.0;
            for (int x = 0; x < 8; ++x)
                c[u][x] = cu / 2.0 * std::cos((2 * x + 1) * u * std::numbers::pi / 16.0);
        }
    }
};

const Basis& GetBasis() {
    static const Basis basis;
    return basis;
}

} // namespace

void ForwardDctDouble(const double in[64], double out[64]) {
    const Basis& b = GetBasis();
    double tmp[64];
    for (int y = 0; y < 8; ++y) {
        for (int u = 0; u < 8; ++u) {
            double s = 0;
            for (int x = 0; x < 8; ++x)
                s += b.c[u][x] * in[8 * y + x];
            tmp[8 * y + u] = s;
        }
    }
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            double s = 0;
            for (int y = 0; y < 8; ++y)
                s += b.c[v][y] * tmp[8 * y + u];
            out[8 * v + u] = s;
        }
    }
}

void InverseDctDouble(const double in[64], double out[64]) {
    const Basis& b = GetBasis();
    double tmp[64];
    for (int v = 0; v < 8; ++v) {
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int u = 0; u < 8; ++u)
                s += b.c[u][x] * in[8 * v + u];
            tmp[8 * v + x] = s;
        }
    }
    for (int x = 0; x < 8; ++x) {
        for (int y = 0; y < 8; ++y) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                s += b.c[v][y] * tmp[8 * v + x];
            out[8 * y + x] = s;
        }
    }
}

} // namespace tv::synth
