#pragma once

// A dual picture carries two channels side by side in one planar 4:2:0
// picture. Playback, the headless exports and the evidence copies all take
// their halves from here, so a channel looks the same wherever it is shown.

#include <cstdint>

namespace tv {

class CVideoDecoder;

// Which channels a decoded picture shows: its own, or the two halves of a
// dual picture, either of which may be absent.
struct PictureChannels {
    int channel = 0;
    int dual = 0;
    int left = 0;
    int right = 0;
    int leftAbsent = 0;
    int rightAbsent = 0;
};

// What the decoder's last header said.
PictureChannels PictureChannelsOf(const CVideoDecoder& decoder);

// The halves of a width x height dual picture, each width/2 x height 4:2:0
// with no row padding; a null half is not written.
void SplitDualPicture(const uint8_t* src, int width, int height, uint8_t* left, uint8_t* right);

// Calls fn(channel, picture, width, height) for every channel picture a
// decoded picture holds: itself, or each present half of a dual one, split
// into half (room for width/2 x height 4:2:0), which fn must not keep.
template <class Fn>
void ForEachChannelPicture(const PictureChannels& c, const uint8_t* picture, int width, int height,
                           uint8_t* half, Fn&& fn) {
    if (!c.dual) {
        fn(c.channel, picture, width, height);
        return;
    }
    if (!c.leftAbsent) {
        SplitDualPicture(picture, width, height, half, nullptr);
        fn(c.left, static_cast<const uint8_t*>(half), width / 2, height);
    }
    if (!c.rightAbsent) {
        SplitDualPicture(picture, width, height, nullptr, half);
        fn(c.right, static_cast<const uint8_t*>(half), width / 2, height);
    }
}

} // namespace tv
