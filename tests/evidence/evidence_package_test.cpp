#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "evidence/evidence_package.h"
#include "export/probe.h"
#include "media/qzf_block.h"
#include "media/stream_file.h"
#include "video/video_decoder.h"

namespace tv::evidence {
namespace {

namespace fs = std::filesystem;

std::string Tool() {
    return std::string(std::getenv("TV_BINARY_DIR")) + "/tools/qzftool/qzftool";
}

int Shell(const std::string& cmd, std::string* out = nullptr) {
    const std::string file =
        fs::temp_directory_path() / ("tv_evid_out_" + std::to_string(getpid()));
    const int status = std::system((cmd + " >" + test::Quote(file) + " 2>&1").c_str());
    if (out) {
        std::ifstream in(file);
        out->assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::remove(file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

uint64_t Field(const std::string& json, const std::string& key) {
    std::smatch m;
    const std::regex re("\"" + key + "\": ([0-9]+)");
    return std::regex_search(json, m, re) ? std::stoull(m[1]) : ~0ull;
}

std::string Seal(const std::string& manifest) {
    std::smatch m;
    const bool found = std::regex_search(manifest, m, std::regex("\"seal\": \"([0-9a-f]{64})\""));
    return found ? std::string(m[1]) : "none";
}

std::vector<std::string> ReadBlocks(const std::string& path) {
    const std::string all = ReadAll(path);
    std::vector<std::string> blocks;
    for (size_t at = 0; at + kQzfBlockSize <= all.size(); at += kQzfBlockSize) {
        blocks.push_back(all.substr(at, kQzfBlockSize));
    }
    return blocks;
}

// 0 for an unwritten or bad block.
uint32_t TimeOf(const std::string& block) {
    QzfBlockHeader h;
    const auto* p = reinterpret_cast<const uint8_t*>(block.data());
    return DecodeRecordingHeader(p, VF_QZB2, 0, &h) ? h.time : 0;
}

std::string WithTime(std::string block, uint32_t time) {
    QzfBlockHeader h;
    DecodeRecordingHeader(reinterpret_cast<const uint8_t*>(block.data()), VF_QZB2, 0, &h);
    h.time = time;
    EncodeBlockHeader(h, false, reinterpret_cast<uint8_t*>(block.data()));
    return block;
}

void WriteBlocks(const std::string& path, const std::vector<std::string>& blocks) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& b : blocks) {
        out << b;
    }
}

// The source: 20 s, 4 channels, from 2024-06-01 12:00:00 local standard time.
class EvidencePackage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/tv_evidence_XXXXXX";
        s_dir = mkdtemp(tmpl);
        ASSERT_EQ(Shell(Tool() + " make-sample " + s_dir + "/rec.qzf --seconds 20 --channels 4"),
                  0);
        ASSERT_EQ(Shell(Tool() + " make-sample " + s_dir +
                        "/disk.img --seconds 6 --channels 2 --disk-image"),
                  0);
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    PackageOptions Options(const std::string& out, const char* from, const char* to) const {
        PackageOptions o;
        o.source = s_dir + "/rec.qzf";
        CStreamFile f;
        f.Open(o.source, 0);
        o.fromUtc = ParsePackageTime(from, f.GetTimeZoneBias());
        o.toUtc = ParsePackageTime(to, f.GetTimeZoneBias());
        o.outDir = s_dir + "/" + out;
        return o;
    }
    static std::string s_dir;
};
std::string EvidencePackage::s_dir;

TEST_F(EvidencePackage, MasterWorkingCopyAndStillsHoldTheRange) {
    PackageOptions o = Options("pkg", "2024-06-01 12:00:05", "2024-06-01 12:00:15");
    o.channels = 0x6; // channels 2 and 3
    o.stills = true;
    PackageResult r;
    ASSERT_EQ(MakeEvidencePackage(o, {}, nullptr, &r), 1) << r.error;
    const std::string manifest = ReadAll(o.outDir + "/manifest.json");
    EXPECT_EQ(r.seal, Seal(manifest));

    // The master is the source's own bytes at the offsets the manifest gives,
    // and starts before the range.
    const uint64_t start = Field(manifest, "source_start"), end = Field(manifest, "source_end");
    ASSERT_LT(start, end);
    EXPECT_EQ(start, r.masterStart);
    EXPECT_LE(r.firstBlockTime, uint32_t(o.fromUtc));
    EXPECT_GE(r.lastBlockTime, uint32_t(o.toUtc - 1));
    const std::string source = ReadAll(o.source);
    EXPECT_TRUE(ReadAll(o.outDir + "/master.QZF") == source.substr(start, end - start));

    // Played from its start, every chosen channel opens with a key picture.
    CStreamFile f;
    ASSERT_EQ(f.Open(o.outDir + "/master.QZF", 0), 1);
    f.SetFormat(VF_QZB2);
    CVideoDecoder d;
    d.SetMode(VF_QZB2);
    std::vector<uint8_t> buf(kMaxPacketSize);
    uint32_t seen = 0, keyFirst = 0;
    while (seen != 0xF) {
        const int n = f.ReadForward(buf.data());
        ASSERT_GT(n, 0);
        if (!f.IsAudio() && d.ParseHeader(buf.data(), n) && !(seen & (1u << d.GetChannel()))) {
            seen |= 1u << d.GetChannel();
            keyFirst |= d.IsKeyPicture() ? 1u << d.GetChannel() : 0;
        }
    }
    EXPECT_EQ(keyFirst & 0x6, 0x6u);

    // The working copy lasts as long as the range, picture and sound.
    const std::vector<test::StreamInfo> streams = test::ProbeStreams(o.outDir + "/working.avi");
    ASSERT_EQ(streams.size(), 2u);
    for (const test::StreamInfo& s : streams) {
        double seconds = 0;
        if (s.at("codec_type") == "video") {
            seconds = std::stod(s.at("duration")); // held frames included
        } else {
            // The sound decoded by FFmpeg, as 16-bit mono samples.
            const std::string pcm =
                test::RunCapture("ffmpeg -v error -i " + test::Quote(o.outDir + "/working.avi") +
                                 " -map 0:a -ac 1 -f s16le - 2>/dev/null");
            seconds = double(pcm.size()) / 2 / std::stod(s.at("sample_rate"));
        }
        EXPECT_NEAR(seconds, 10.0, 0.5) << s.at("codec_type");
    }

    // One still per chosen channel, a bitmap file whose header gives its size.
    int stills = 0;
    for (const auto& e : fs::directory_iterator(o.outDir)) {
        if (e.path().extension() == ".bmp") {
            const std::string bmp = ReadAll(e.path());
            ASSERT_GT(bmp.size(), 54u);
            EXPECT_EQ(bmp.substr(0, 2), "BM");
            EXPECT_EQ(uint8_t(bmp[2]) | uint8_t(bmp[3]) << 8 | uint8_t(bmp[4]) << 16, bmp.size());
            ++stills;
        }
    }
    EXPECT_EQ(stills, 2);

    // verify-package holds, then names the file after one changed byte in any
    // file, a removed file or an added one.
    std::string out;
    EXPECT_EQ(Shell(Tool() + " verify-package " + o.outDir, &out), 0) << out;
    for (const auto& e : fs::directory_iterator(o.outDir)) {
        const std::string name = e.path().filename();
        const std::string copy = s_dir + "/tampered";
        fs::remove_all(copy);
        fs::copy(o.outDir, copy);
        std::fstream io(copy + "/" + name, std::ios::in | std::ios::out | std::ios::binary);
        io.seekg(std::streamoff(fs::file_size(e.path()) / 2));
        const char c = char(io.get());
        io.seekp(std::streamoff(fs::file_size(e.path()) / 2));
        io.put(char(c ^ 0x01));
        io.close();
        EXPECT_EQ(Shell(Tool() + " verify-package " + copy, &out), 1) << name;
        EXPECT_NE(out.find("FAILED   " + name), std::string::npos) << out;
    }
    fs::copy(o.outDir + "/report.txt", s_dir + "/extra.txt");
    fs::rename(s_dir + "/extra.txt", o.outDir + "/notes.txt");
    EXPECT_EQ(Shell(Tool() + " verify-package " + o.outDir, &out), 1);
    EXPECT_NE(out.find("FAILED   notes.txt: added"), std::string::npos) << out;
    fs::remove(o.outDir + "/notes.txt");
    fs::remove(o.outDir + "/report.txt");
    EXPECT_EQ(Shell(Tool() + " verify-package " + o.outDir, &out), 1);
    EXPECT_NE(out.find("FAILED   report.txt: missing"), std::string::npos) << out;
}

TEST_F(EvidencePackage, BlocksBadInTheSourceAreKeptAndNewOnesFound) {
    std::string source = ReadAll(s_dir + "/rec.qzf");
    source[300 * 1024 / 4096 * 4096 + 7] ^= 0x5A; // a block header's checksum, inside the range
    std::ofstream(s_dir + "/bad.qzf", std::ios::binary) << source;
    PackageOptions o = Options("badpkg", "2024-06-01 12:00:04", "2024-06-01 12:00:07");
    o.source = s_dir + "/bad.qzf";
    o.working = false;
    PackageResult r;
    ASSERT_EQ(MakeEvidencePackage(o, {}, nullptr, &r), 1) << r.error;
    const uint64_t bad = 300 * 1024 / 4096 * 4096 - r.masterStart;
    EXPECT_NE(
        ReadAll(o.outDir + "/manifest.json").find("\"bad_blocks\": [" + std::to_string(bad) + "]"),
        std::string::npos);
    std::string out;
    EXPECT_EQ(Shell(Tool() + " verify-package " + o.outDir, &out), 0) << out;
    {
        std::fstream io(o.outDir + "/master.QZF", std::ios::in | std::ios::out | std::ios::binary);
        io.seekp(std::streamoff(bad + 4096 + 2));
        io.put('\x7F');
    }
    EXPECT_EQ(Shell(Tool() + " verify-package " + o.outDir, &out), 1);
    EXPECT_NE(out.find("1 block header(s) fail their checksum, the first at offset " +
                       std::to_string(bad + 4096)),
              std::string::npos)
        << out;
}

TEST_F(EvidencePackage, FolderRulesAndFullDiskLeaveNoPackage) {
    const std::string src = s_dir + "/rec.qzf";
    const std::string range = " --from '2024-06-01 12:00:02' --to '2024-06-01 12:00:06'";
    std::string out;
    fs::create_directory(s_dir + "/used");
    std::ofstream(s_dir + "/used/keep.txt") << "x";
    EXPECT_EQ(Shell(Tool() + " package " + src + range + " --out " + s_dir + "/used", &out), 1);
    EXPECT_NE(out.find("exists and is not empty"), std::string::npos) << out;
    EXPECT_EQ(fs::directory_iterator(s_dir + "/used")->path().filename(), "keep.txt");

    EXPECT_EQ(Shell(Tool() + " package " + src + range + " --out " + src + "/pkg", &out), 1);
    EXPECT_NE(out.find("lies on the source"), std::string::npos) << out;

    // A file-size limit stands for a full disk: first the master, then the
    // working copy cannot be written whole.
    for (const char* limit : {"200", "600"}) {
        const std::string dir = s_dir + "/full" + limit;
        EXPECT_EQ(
            Shell("bash -c " + test::Quote(std::string("ulimit -f ") + limit + "; exec " + Tool() +
                                           " package " + src + range + " --out " + dir),
                  &out),
            1)
            << limit;
        EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
        EXPECT_FALSE(fs::exists(dir)) << limit;
    }
}

TEST_F(EvidencePackage, DiskIsOnlyReadAndCancelRemovesEverything) {
    PackageOptions o = Options("diskpkg", "2024-06-01 12:00:02", "2024-06-01 12:00:04");
    o.source = s_dir + "/disk.img";
    o.disk = true;
    o.working = false;
    o.hashSource = true;
    const int fd = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(inotify_add_watch(fd, o.source.c_str(), IN_CLOSE_WRITE | IN_MODIFY), 0);
    PackageResult r;
    ASSERT_EQ(MakeEvidencePackage(o, {}, nullptr, &r), 1) << r.error;
    char ev[4096];
    EXPECT_LT(read(fd, ev, sizeof ev), 0) << "the disk was opened for writing";
    close(fd);
    // The master holds the disk's blocks with their words put back in order.
    std::string disk = ReadAll(o.source).substr(r.masterStart, r.masterEnd - r.masterStart);
    SwapWords(reinterpret_cast<uint8_t*>(disk.data()), disk.size());
    EXPECT_TRUE(ReadAll(o.outDir + "/master.QZF") == disk);
    EXPECT_EQ(Shell(Tool() + " verify-package " + o.outDir), 0);

    std::atomic<bool> cancel{false};
    o.outDir = s_dir + "/cancelled";
    o.working = true;
    const ProgressFn stop = [&](const std::string& stage, uint64_t, uint64_t) {
        if (stage == "making the working copy")
            cancel = true;
    };
    o.source = s_dir + "/rec.qzf";
    o.disk = false;
    EXPECT_EQ(MakeEvidencePackage(o, stop, &cancel, &r), 0);
    EXPECT_EQ(r.error, "cancelled");
    EXPECT_FALSE(fs::exists(o.outDir));
}

TEST_F(EvidencePackage, ARangeRecordedInSeveralStretchesIsPackagedWhole) {
    const std::vector<std::string> rec = ReadBlocks(s_dir + "/rec.qzf");
    const int64_t t0 = Options("x", "2024-06-01 12:00:00", "2024-06-01 12:00:01").fromUtc;
    // The blocks of seconds [from, to) of the source, their times shifted;
    // from < 0: that many unwritten blocks.
    struct Part {
        int from, to, shift;
    };
    struct Layout {
        const char* name;
        std::vector<Part> parts;
        int from, to; // the range, in seconds after 12:00:00
    };
    const std::vector<Layout> layouts = {
        {"ring", {{15, 20, 0}, {0, 15, 0}}, 5, 20}, // the newest blocks before the oldest
        {"ring_unwritten", {{15, 20, 0}, {-40, 0, 0}, {0, 15, 0}, {-100, 0, 0}}, 5, 20},
        {"clock_set_back", {{0, 10, 15}, {10, 20, -10}}, 5, 20},
        {"recorded_twice", {{0, 10, 0}, {10, 20, -5}}, 6, 9},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        std::vector<std::string> blocks;
        for (const Part& p : l.parts) {
            blocks.resize(blocks.size() + size_t(std::max(0, -p.from)),
                          std::string(kQzfBlockSize, 0));
            for (const std::string& b : rec) {
                if (p.from >= 0 && TimeOf(b) >= t0 + p.from && TimeOf(b) < t0 + p.to) {
                    blocks.push_back(WithTime(b, uint32_t(int64_t(TimeOf(b)) + p.shift)));
                }
            }
        }
        PackageOptions o =
            Options(std::string(l.name) + "_pkg", "2024-06-01 12:00:00", "2024-06-01 12:00:01");
        o.fromUtc = t0 + l.from;
        o.toUtc = t0 + l.to;
        o.source = s_dir + "/" + l.name + ".qzf";
        o.working = false;
        WriteBlocks(o.source, blocks);
        PackageResult r;
        ASSERT_EQ(MakeEvidencePackage(o, {}, nullptr, &r), 1) << r.error;
        EXPECT_EQ(r.pieces.size(), 2u);

        // Every block of the range is in the master, and the master holds
        // nothing but written blocks of the range and the lead before it.
        const std::vector<std::string> master = ReadBlocks(o.outDir + "/master.QZF");
        const std::set<std::string> held(master.begin(), master.end());
        for (const std::string& b : blocks) {
            if (TimeOf(b) >= o.fromUtc && TimeOf(b) < o.toUtc) {
                EXPECT_TRUE(held.count(b)) << "a block of " << TimeOf(b) - t0 << " s is missing";
            }
        }
        for (const std::string& b : master) {
            EXPECT_GE(TimeOf(b), o.fromUtc - 6);
            EXPECT_LE(TimeOf(b), o.toUtc);
        }
        std::string out;
        EXPECT_EQ(Shell(Tool() + " verify-package " + o.outDir, &out), 0) << out;
    }
}

TEST_F(EvidencePackage, AnUnsetClockAmidTheRangeIsNoTimeToPadTo) {
    const std::string src = s_dir + "/jump.qzf";
    ASSERT_EQ(Shell(Tool() + " make-sample " + src + " --seconds 60 --channels 4"), 0);
    std::vector<std::string> rec = ReadBlocks(src);
    const int64_t t4 = Options("x", "2024-06-01 12:00:04", "2024-06-01 12:00:05").fromUtc;
    size_t k = 0;
    while (TimeOf(rec[k]) < t4) {
        ++k;
    }
    rec[k] = WithTime(rec[k], 1000);
    rec[k + 1] = WithTime(rec[k + 1], 1001);
    WriteBlocks(src, rec);

    // A file-size limit turns a working copy padded to the clock's jump into a failure.
    const std::string dir = s_dir + "/jumppkg";
    std::string out;
    ASSERT_EQ(
        Shell("bash -c " + test::Quote("ulimit -f 65536; exec " + Tool() + " package " + src +
                                       " --from '2024-06-01 12:00:02' --to '2024-06-01 12:00:07'"
                                       " --out " +
                                       dir),
              &out),
        0)
        << out;
    const std::string manifest = ReadAll(dir + "/manifest.json");
    EXPECT_LE(Field(manifest, "frames"), 6u * Field(manifest, "frame_rate"));
    // The seal is printed, to be kept apart from the package.
    EXPECT_NE(out.find("seal: " + Seal(manifest)), std::string::npos) << out;
    EXPECT_NE(out.find("apart from the package"), std::string::npos) << out;

    // A stop signal ends a running package and leaves nothing.
    for (const char* sig : {"INT", "TERM"}) {
        const std::string stopped = s_dir + "/stopped", log = s_dir + "/stopped.log";
        const std::string script =
            "rm -f " + log + "; " + Tool() + " package " + src +
            " --from '2024-06-01 12:00:02' --to '2024-06-01 12:00:59' --out " + stopped + " 2>" +
            log + " & until grep -q 'working copy' " + log +
            " || ! kill -0 $!; do sleep 0.01; done; kill -" + sig + " $!; wait $!";
        EXPECT_EQ(Shell("bash -c " + test::Quote(script)), 130) << sig << ReadAll(log);
        EXPECT_FALSE(fs::exists(stopped)) << sig;
    }
}

TEST_F(EvidencePackage, ASecondPackageIntoTheSameFolderIsRefused) {
    PackageOptions o = Options("shared", "2024-06-01 12:00:02", "2024-06-01 12:00:05");
    o.working = false;
    o.hashSource = true;
    fs::create_directory(o.outDir); // an empty folder of the user's is fine for one package
    int second = -1;
    std::string out;
    const ProgressFn meanwhile = [&](const std::string&, uint64_t, uint64_t) {
        if (second < 0) {
            second = Shell(Tool() + " package " + o.source +
                               " --from '2024-06-01 12:00:02' --to '2024-06-01 12:00:05'"
                               " --working none --out " +
                               o.outDir,
                           &out);
        }
    };
    PackageResult r;
    ASSERT_EQ(MakeEvidencePackage(o, meanwhile, nullptr, &r), 1) << r.error;
    EXPECT_EQ(second, 1);
    EXPECT_NE(out.find("another package is being made there"), std::string::npos) << out;
    EXPECT_EQ(Shell(Tool() + " verify-package " + o.outDir, &out), 0) << out;
}

} // namespace
} // namespace tv::evidence
