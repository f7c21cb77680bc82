#pragma once

// Where dvrsim's pictures and sound come from: a QZF recording, the test-pattern
// encoder, or made-up pictures with the live layout's 17 slices, which pass
// the header parse but are no real picture.

#include "dvrsim/dvr_sim.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tv {

struct SimPicture {
    std::vector<uint8_t> payload; // from the first slice start code on
    int quant = 2;
    bool key = true;
};

// Encoded test-pattern pictures shared by every session: encoding costs far
// more than sending, so each picture of a channel's cycle is made once.
class CPictureCache {
public:
    explicit CPictureCache(const DvrSimOptions& opt);
    ~CPictureCache();
    // The picture for (channel, index modulo the cycle), encoded on first use.
    bool Get(int channel, uint64_t index, SimPicture& out);
    void PrepareAll();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

class PictureSource {
public:
    virtual ~PictureSource() = default;
    virtual bool NextPicture(int channel, bool key, SimPicture& out) = 0;
    virtual bool NextAudio(int bytes, std::vector<uint8_t>& out) = 0;
};

// cache may be null when the options ask for made-up pictures or a file.
std::unique_ptr<PictureSource> MakePictureSource(const DvrSimOptions& opt, CPictureCache* cache);
// Checks that the source named in the options can be used; false with the reason.
bool CheckPictureSource(const DvrSimOptions& opt, std::string& why);
const char* PictureSourceKind(const DvrSimOptions& opt);
bool UsesPictureCache(const DvrSimOptions& opt);

} // namespace tv
