#pragma once

#include <cstdint>
#include <vector>

namespace tv::bench {

// A planar YUV 4:2:0 picture of a recognisable scene: kind 0 colour bars,
// 1 a bright sky over a dark ground, 2 a near-white wall, 3 a night scene,
// 4 a diagonal gradient with a checkerboard, 5 a red-green-blue ramp; frame
// moves the scene so a wall of them shows motion.
std::vector<uint8_t> SamplePicture(int width, int height, int kind, int frame);

} // namespace tv::bench
