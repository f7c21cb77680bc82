#pragma once

namespace tv::synth {

// Double-precision 8x8 DCT pair with the scaling of the decoder's transforms:
// a block of constant value v has DC coefficient 8v. Raster order.
void ForwardDctDouble(const double in[64], double out[64]);
void InverseDctDouble(const double in[64], double out[64]);

} // namespace tv::synth
