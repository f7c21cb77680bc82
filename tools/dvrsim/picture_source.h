#pragma once

// Where dvrsim's pictures and sound come from: a QZF recording, the test-pattern
// encoder, or (when neither is built in) made-up pictures with the live
// layout's 17 slices, which pass the header parse but are no real picture.

#include "dvrsim/dvr_sim.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tv {

struct SimPicture {
    std::vector<uint8_t> payload; // from the first slice start code on
    int quant = 2;
    bool key = true;
};

class PictureSource {
public:
    virtual ~PictureSource() = default;
    virtual bool NextPicture(int channel, bool key, SimPicture& out) = 0;
    virtual bool NextAudio(int bytes, std::vector<uint8_t>& out) = 0;
};

std::unique_ptr<PictureSource> MakePictureSource(const DvrSimOptions& opt);
// Checks that the source named in the options can be used; false with the reason.
bool CheckPictureSource(const DvrSimOptions& opt, std::string& why);
const char* PictureSourceKind(const DvrSimOptions& opt);

} // namespace tv
