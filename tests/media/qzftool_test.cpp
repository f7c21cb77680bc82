#include "media_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace tv;
using namespace tv::test;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

// With errors, out is what the tool wrote to stderr instead of stdout.
ToolRun Tool(const std::string& args, bool errors = false) {
    // The tool sits in the build tree, two folders above this test.
    std::string root;
    if (const char* bin = std::getenv("TV_BINARY_DIR")) {
        root = bin;
    } else {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
        root = std::string(self, n > 0 ? static_cast<size_t>(n) : 0);
        root = root.substr(0, root.rfind('/')) + "/../..";
    }
    const std::string cmd =
        root + "/tools/qzftool/qzftool " + args + (errors ? " 2>&1 >/dev/null" : " 2>/dev/null");
    ToolRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) {
        r.out.append(buf, n);
    }
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> v;
    size_t a = 0;
    for (size_t b; (b = s.find('\n', a)) != std::string::npos; a = b + 1) {
        v.push_back(s.substr(a, b - a));
    }
    return v;
}

class QzfToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        CQzfBlockWriter w;
        w.AttachVector(&m_file);
        std::mt19937 rng(8);
        for (int i = 0; i < 40; ++i) {
            w.SetTime(static_cast<time_t>(1600000000 + 10 * i)); // 2020-09-13 12:26:40 UTC
            std::vector<uint8_t> v = Payload(rng, 1500 + 37 * static_cast<size_t>(i));
            v[0] = static_cast<uint8_t>(i % 3);
            w.WritePacket(0xF8, v.data(), v.size());
            if (i % 4 == 0) {
                w.WriteAudioPacket(1, v.data(), 300);
            }
        }
        w.Finish();
        m_path = m_dir.File("s.qzf");
        WriteBytes(m_path, m_file);
    }
    TempDir m_dir;
    std::vector<uint8_t> m_file;
    std::string m_path;
};

} // namespace

TEST_F(QzfToolTest, InfoAndPackets) {
    ToolRun info = Tool("info " + m_path + " --json");
    ASSERT_EQ(info.status, 0);
    ASSERT_EQ(Lines(info.out).size(), 1u);
    EXPECT_NE(info.out.find("\"bad_blocks\":0"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"audio_channel_mask\":2"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"video\":[14,13,13,0,"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"audio\":[0,10,0,0]"), std::string::npos) << info.out;

    ToolRun fwd = Tool("packets " + m_path + " --json --utc");
    ToolRun back = Tool("packets " + m_path + " --json --utc --backward");
    ASSERT_EQ(fwd.status, 0);
    ASSERT_EQ(back.status, 0);
    std::vector<std::string> f = Lines(fwd.out);
    std::vector<std::string> b = Lines(back.out);
    // The last packet in the file is followed only by the end mark: all 50 come back.
    ASSERT_EQ(f.size(), 50u);
    EXPECT_EQ(f[0].rfind("{\"kind\":\"video\",\"channel\":0,\"length\":1504,\"sha256\":\"", 0), 0u);
    EXPECT_NE(f[0].find("\"time\":\"2020-09-13 12:26:40\""), std::string::npos) << f[0];
    // sha256 of an empty-free audio packet: 300 sample bytes.
    EXPECT_NE(f[1].find("\"kind\":\"audio\",\"channel\":1,\"length\":300"), std::string::npos);
    // Backward reading yields the same packets in reverse (times may differ:
    // a packet read backward reports the block where its start lies).
    ASSERT_EQ(b.size(), f.size());
    for (size_t i = 0; i < f.size(); ++i) {
        const std::string& x = f[i];
        const std::string& y = b[f.size() - 1 - i];
        EXPECT_EQ(x.substr(0, x.find("\"time\"")), y.substr(0, y.find("\"time\"")));
    }
    ToolRun text = Tool("packets " + m_path);
    EXPECT_EQ(Lines(text.out).size(), 50u);
}

TEST_F(QzfToolTest, VerifyCopyAndFindTime) {
    EXPECT_EQ(Tool("verify " + m_path).status, 0);
    std::vector<uint8_t> bad = m_file;
    bad[2 * kQzfBlockSize + 3] ^= 1;
    const std::string badPath = m_dir.File("bad.qzf");
    WriteBytes(badPath, bad);
    ToolRun v = Tool("verify " + badPath);
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.out.find("bad block at offset 8192"), std::string::npos) << v.out;

    const std::string out = m_dir.File("part.qzf");
    ASSERT_EQ(Tool("copy " + m_path + " 5000 9000 " + out).status, 0);
    EXPECT_EQ(ReadBytes(out).size(), 2u * kQzfBlockSize);
    EXPECT_NE(Tool("copy " + m_path + " 9000 5000 " + out).status, 0);
    EXPECT_NE(Tool("copy " + m_path + " 0 100 " + m_path).status, 0);
    EXPECT_EQ(ReadBytes(m_path), m_file);

    ToolRun t = Tool("find-time " + m_path + " \"2020-09-13 12:29:00\" --utc");
    ASSERT_EQ(t.status, 0);
    const long long off = std::atoll(t.out.c_str());
    EXPECT_EQ(off % kQzfBlockSize, 0);
    EXPECT_NE(t.out.find("2020-09-13 12:29:"), std::string::npos) << t.out;
    EXPECT_EQ(Tool("find-time " + m_path + " \"2030-01-01 00:00:00\" --utc").status, 1);
    EXPECT_EQ(Tool("find-time " + m_path + " yesterday").status, 2);

    // A clock set back 15 s: a second recorded twice gives a line for each place.
    std::vector<uint8_t> twice(40 * kQzfBlockSize);
    for (uint32_t b = 0; b < 40; ++b) {
        QzfBlockHeader h;
        h.time = 1600000000u + (b < 20 ? b : b - 15);
        EncodeBlockHeader(h, false, &twice[b * kQzfBlockSize]);
    }
    const std::string twicePath = m_dir.File("twice.qzf");
    WriteBytes(twicePath, twice);
    ToolRun both = Tool("find-time " + twicePath + " \"2020-09-13 12:26:50\" --utc");
    ASSERT_EQ(both.status, 0);
    EXPECT_EQ(both.out, "40960 2020-09-13 12:26:50\n102400 2020-09-13 12:26:50\n");
}

TEST_F(QzfToolTest, ADateThatDoesNotExistIsRefused) {
    EXPECT_EQ(Tool("find-time " + m_path + " \"2020-09-31 12:29:00\" --utc").status, 2);
    EXPECT_EQ(Tool("find-time " + m_path + " \"2020/09/13 12:29:00\" --utc").status, 0);
    EXPECT_EQ(
        Tool("make-sample " + m_dir.File("x.qzf") + " --start \"2023-02-29 10:00:00\"").status, 2);
}

TEST_F(QzfToolTest, PlayNeverWritesItsLogOverTheRecording) {
    if (Tool("play --help").status != 0) {
        GTEST_SKIP() << "qzftool was built without the player engine";
    }
    const std::string link = m_dir.File("link.qzf");
    const std::string hard = m_dir.File("hard.qzf");
    ASSERT_EQ(symlink(m_path.c_str(), link.c_str()), 0);
    ASSERT_EQ(::link(m_path.c_str(), hard.c_str()), 0);
    for (const std::string& log : {m_path, link, hard, m_dir.Path() + "/./s.qzf"}) {
        EXPECT_NE(Tool("play " + m_path + " --seconds 1 --unpaced --log " + log).status, 0) << log;
        EXPECT_EQ(ReadBytes(m_path), m_file) << log;
    }
}

TEST_F(QzfToolTest, BadArgumentsFailWithAStatus) {
    EXPECT_EQ(Tool("").status, 2);
    EXPECT_EQ(Tool("--help").status, 0);
    EXPECT_EQ(Tool("frobnicate x").status, 2);
    EXPECT_EQ(Tool("info " + m_dir.File("missing.qzf")).status, 2);
    EXPECT_EQ(Tool("info " + m_dir.Path()).status, 2);
    EXPECT_EQ(Tool("info " + m_path + " --format QZ_NOPE").status, 2);
    EXPECT_EQ(Tool("info " + m_path + " --bogus").status, 2);
    EXPECT_EQ(Tool("info --help").status, 0);
    EXPECT_EQ(Tool("info " + m_path + " --format QZ_QZA").status, 0);
}

TEST_F(QzfToolTest, ABadCommandLineIsRefusedInOneLine) {
    const std::string out = m_dir.File("out.avi");
    for (const std::string& args :
         {"info " + m_path + " --bogus", "export " + m_path + " " + out + " --split",
          "export " + m_path + " " + out + " --split 3", "decode " + m_path,
          "copy " + m_path + " 0", "verify " + m_path + " " + m_path,
          "make-sample " + out + " --channels 010x"}) {
        const ToolRun r = Tool(args, true);
        EXPECT_EQ(r.status, 2) << args;
        const std::string command = args.substr(0, args.find(' '));
        EXPECT_EQ(r.out.rfind("qzftool " + command + ": ", 0), 0u) << args << "\n" << r.out;
        EXPECT_EQ(Lines(r.out).size(), 1u) << args << "\n" << r.out;
    }
    EXPECT_FALSE(std::ifstream(out).good());
}

TEST_F(QzfToolTest, HelpOfACommandListsEachOptionWithItsHelp) {
    const ToolRun r = Tool("record --help");
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--ip ADDR", "--port P", "--timeout MS", "--force"}) {
        EXPECT_NE(r.out.find(std::string("\n  ") + option + "  "), std::string::npos)
            << option << "\n"
            << r.out;
    }
}

TEST_F(QzfToolTest, ACutTailIsNoBadBlockAndRepairLeavesItOut) {
    // As a kill leaves a recording: whole blocks, then part of one.
    std::vector<uint8_t> cut(m_file.begin(), m_file.end() - 1000);
    const std::string cutPath = m_dir.File("cut.qzf");
    WriteBytes(cutPath, cut);
    const uint64_t whole = cut.size() / kQzfBlockSize * kQzfBlockSize;
    ToolRun v = Tool("verify " + cutPath);
    EXPECT_EQ(v.status, 0) << v.out;
    EXPECT_NE(v.out.find("cut tail at offset " + std::to_string(whole) + ": " +
                         std::to_string(cut.size() - whole) + " bytes after the last whole block"),
              std::string::npos)
        << v.out;
    EXPECT_EQ(v.out.find("bad block"), std::string::npos) << v.out;
    // A bad block as well: that, and only that, fails.
    std::vector<uint8_t> both = cut;
    both[kQzfBlockSize + 1] ^= 0x40;
    const std::string bothPath = m_dir.File("both.qzf");
    WriteBytes(bothPath, both);
    v = Tool("verify " + bothPath);
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.out.find("bad block at offset 4096\n"), std::string::npos) << v.out;
    EXPECT_NE(v.out.find("cut tail at offset"), std::string::npos) << v.out;

    const std::string fixed = m_dir.File("fixed.qzf");
    ASSERT_EQ(Tool("repair " + cutPath + " " + fixed).status, 0);
    const std::vector<uint8_t> out = ReadBytes(fixed);
    ASSERT_EQ(out.size(), whole);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), cut.begin()));
    v = Tool("verify " + fixed);
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.find("cut tail"), std::string::npos) << v.out;
    EXPECT_EQ(Tool("packets " + fixed).out, Tool("packets " + cutPath).out);
    // A copy of all of it is the same clean file.
    const std::string copied = m_dir.File("copied.qzf");
    ASSERT_EQ(
        Tool("copy " + cutPath + " 0 " + std::to_string(cut.size() - 1) + " " + copied).status, 0);
    EXPECT_EQ(ReadBytes(copied), out);
    // Bad blocks stay where they were.
    ASSERT_EQ(Tool("repair " + bothPath + " " + m_dir.File("fixed2.qzf")).status, 0);
    EXPECT_EQ(ReadBytes(m_dir.File("fixed2.qzf")).size(), whole);
    // Never over an existing file unasked, never over the recording itself.
    EXPECT_EQ(Tool("repair " + cutPath + " " + fixed).status, 2);
    EXPECT_EQ(Tool("repair " + cutPath + " " + fixed + " --force").status, 0);
    EXPECT_EQ(Tool("repair " + cutPath + " " + cutPath + " --force").status, 2);
    EXPECT_EQ(ReadBytes(cutPath), cut);
}

TEST_F(QzfToolTest, VerifyRefusesWhatIsNoRecording) {
    const std::string empty = m_dir.File("empty.qzf");
    WriteBytes(empty, {});
    ToolRun v = Tool("verify " + empty);
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.out.find("not a QZF recording"), std::string::npos) << v.out;
    const std::string shortOne = m_dir.File("short.qzf");
    WriteBytes(shortOne, {m_file.begin(), m_file.begin() + 4000});
    EXPECT_EQ(Tool("verify " + shortOne).status, 1);
    const std::string text = m_dir.File("text.qzf");
    WriteBytes(text, std::vector<uint8_t>(3 * kQzfBlockSize, 'x'));
    v = Tool("verify " + text);
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.out.find("is not a QZF recording"), std::string::npos) << v.out;
    EXPECT_NE(Tool("repair " + empty + " " + m_dir.File("r.qzf")).status, 0);
    EXPECT_NE(Tool("verify --help").out.find("covers the block's 8-byte header only"),
              std::string::npos);
}

TEST_F(QzfToolTest, InfoJsonStaysValidForAnyFileName) {
    // é in Latin-1 (not UTF-8), a lone continuation byte, then é in UTF-8.
    const std::string name = m_dir.File("caf\xe9-\x80-\xc3\xa9.qzf");
    WriteBytes(name, m_file);
    ToolRun info = Tool("info '" + name + "' --json");
    ASSERT_EQ(info.status, 0);
    const std::string want = "\"file\":\"" + m_dir.Path() + "/caf\\u00e9-\\u0080-\xc3\xa9.qzf\"";
    EXPECT_NE(info.out.find(want), std::string::npos) << info.out;
}
