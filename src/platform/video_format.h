#pragma once

namespace tv {

// Video format codes ("QZ_QZF" ... "QZ_QZA"), the configuration's video
// format. They select the picture header layout for the decoder and the block
// header layout for the readers and writers of recordings (calendar headers
// for QZ_QZF, big-endian ones for QZ_QZA).
enum VideoFormat {
    VF_QZF = 0,
    VF_QZE = 1,
    VF_QZD = 2,
    VF_QZB = 3,
    VF_QZB2 = 4,
    VF_QZB3 = 5,
    VF_QZA = 6,
    VF_COUNT = 7,
};

} // namespace tv
