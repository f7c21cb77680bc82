#include "export/avi_writer.h"
#include "export/compressor_chooser.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace tv {
namespace {

bool Has(const std::vector<EncoderInfo>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const auto& e) { return e.name == name; });
}

TEST(EncoderList, ListsOnlyEncodersThatOpenForTheFrameSize) {
    const auto list = ListAviVideoEncoders(640, 448);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front().name, kDefaultVideoCodec);
    EXPECT_TRUE(Has(list, "rawvideo"));
    EXPECT_TRUE(Has(list, "mpeg4"));
    // Standard-size-only encoders do not open for a split view of 640 x 448.
    EXPECT_FALSE(Has(list, "h261"));
    // Audio encoders never appear.
    EXPECT_FALSE(Has(list, "pcm_s16le"));

    const auto cif = ListAviVideoEncoders(352, 288);
    EXPECT_TRUE(Has(cif, "h261"));

    for (const auto& e : list) {
        if (e.name == "rawvideo" || e.name == "ffvhuff") {
            EXPECT_TRUE(e.lossless) << e.name;
        }
        if (e.name == "mjpeg" || e.name == "mpeg4") {
            EXPECT_FALSE(e.lossless) << e.name;
        }
    }
    EXPECT_TRUE(ListAviVideoEncoders(0, 448).empty());
    EXPECT_TRUE(ListAviVideoEncoders(640, 448, 12).empty());
}

TEST(EncoderList, EveryListedEncoderOpensInTheWriter) {
    const auto list = ListAviVideoEncoders(160, 112);
    const std::string path = "/tmp/tv_export_list_" + std::to_string(::getpid()) + ".avi";
    for (const auto& e : list) {
        CNamedCompressorChooser chooser({e.name, 0, 0});
        CAviWriter w;
        w.SetCompressorChooser(&chooser);
        EXPECT_EQ(w.Open(path, 24, 6750, 160, 112, 300, nullptr, 25), AVI_OK) << e.name;
        std::vector<uint8_t> frame(160 * 112 * 3, 90);
        EXPECT_EQ(w.WriteVideoFrame(frame.data(), 1), AVI_WRITTEN) << e.name;
        w.Close();
    }
    std::filesystem::remove(path);
}

TEST(EncoderList, NamedChooserFallsBackToTheDefault) {
    CNamedCompressorChooser none;
    CompressorOptions o;
    EXPECT_EQ(none.Choose({}, o), 1);
    EXPECT_EQ(o.codec, kDefaultVideoCodec);
    CNamedCompressorChooser named({"ffv1", 10, 800});
    EXPECT_EQ(named.Choose({}, o), 1);
    EXPECT_EQ(o.codec, "ffv1");
    EXPECT_EQ(o.keyFrameInterval, 10);
    EXPECT_EQ(o.dataRateKbps, 800);
}

} // namespace
} // namespace tv
