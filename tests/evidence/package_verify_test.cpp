#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "evidence/evidence_package.h"
#include "export/probe.h"
#include "media/stream_file.h"
#include "platform/hashing.h"

namespace tv::evidence {
namespace {

namespace fs = std::filesystem;

// verify-package as the user runs it; a hang would end in timeout's 124.
int Verify(const std::string& dir, std::string* out, const std::string& more = "") {
    const std::string file = dir + ".out";
    const std::string cmd = "timeout 120 " + std::string(std::getenv("TV_BINARY_DIR")) +
                            "/tools/qzftool/qzftool verify-package " + test::Quote(dir) + more +
                            " >" + test::Quote(file) + " 2>&1";
    const int status = std::system(cmd.c_str());
    std::ifstream in(file);
    out->assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Edits the manifest and seals it again, as someone who rewrites a package
// together with its manifest would.
void Reseal(const std::string& dir, const std::function<void(std::string&)>& edit) {
    const std::string manifest = ReadAll(dir + "/manifest.json");
    std::string body = manifest.substr(0, manifest.rfind(",\n  \"seal\": ") + 2);
    edit(body);
    WriteAll(dir + "/manifest.json",
             body + "  \"seal\": \"" + Sha256Hex(body.data(), body.size()) + "\"\n}\n");
}

// The entry of one file: its size and hash made to fit bytes.
void SetEntry(std::string& body, const std::string& name, const std::string& bytes) {
    body =
        std::regex_replace(body,
                           std::regex("\"name\": \"" + name +
                                      "\", \"size\": [^,]+, "
                                      "\"sha256\": \"[0-9a-f]+\""),
                           "\"name\": \"" + name + "\", \"size\": " + std::to_string(bytes.size()) +
                               ", \"sha256\": \"" + Sha256Hex(bytes.data(), bytes.size()) + "\"");
}

class PackageVerify : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/tv_pkgverify_XXXXXX";
        s_dir = mkdtemp(tmpl);
        const std::string rec = s_dir + "/rec.qzf";
        ASSERT_EQ(std::system((std::string(std::getenv("TV_BINARY_DIR")) +
                               "/tools/qzftool/qzftool make-sample " + rec +
                               " --seconds 8 --channels 2 >/dev/null")
                                  .c_str()),
                  0);
        PackageOptions o;
        o.source = rec;
        CStreamFile f;
        f.Open(rec, 0);
        o.fromUtc = ParsePackageTime("2024-06-01 12:00:03", f.GetTimeZoneBias());
        o.toUtc = ParsePackageTime("2024-06-01 12:00:05", f.GetTimeZoneBias());
        o.outDir = s_dir + "/pkg";
        o.working = false;
        PackageResult r;
        ASSERT_EQ(MakeEvidencePackage(o, {}, nullptr, &r), 1) << r.error;
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    // A fresh copy of the package to spoil.
    std::string Copy(const std::string& name) {
        const std::string dir = s_dir + "/" + name;
        fs::remove_all(dir);
        fs::copy(s_dir + "/pkg", dir);
        return dir;
    }
    static std::string s_dir;
};
std::string PackageVerify::s_dir;

TEST_F(PackageVerify, HostileFilesFailAndNeverHang) {
    std::string out;
    int i = 0;
    for (const std::string file : {"master.QZF", "manifest.json"}) {
        for (const bool fifo : {false, true}) {
            const std::string dir = Copy("hostile" + std::to_string(i++));
            fs::remove(dir + "/" + file);
            if (fifo)
                ASSERT_EQ(mkfifo((dir + "/" + file).c_str(), 0600), 0);
            else
                fs::create_symlink("/dev/zero", dir + "/" + file);
            EXPECT_EQ(Verify(dir, &out), 1) << file << fifo << "\n" << out;
            EXPECT_NE(out.find("FAILED   " + file), std::string::npos) << out;
        }
    }
    const std::string dir = Copy("outside");
    Reseal(dir, [](std::string& b) {
        b = std::regex_replace(b, std::regex("master\\.QZF"), "../../../../dev/zero");
    });
    EXPECT_EQ(Verify(dir, &out), 1) << out;
    EXPECT_NE(out.find("FAILED   manifest.json"), std::string::npos) << out;
}

TEST_F(PackageVerify, ResealedPackagesShowTheirSealAndFailWhenEmpty) {
    std::string out;
    const std::string manifest = ReadAll(s_dir + "/pkg/manifest.json");
    const std::string kept = manifest.substr(manifest.rfind("\"seal\": \"") + 9, 64);
    EXPECT_EQ(Verify(s_dir + "/pkg", &out), 0) << out;
    EXPECT_NE(out.find("seal: " + kept), std::string::npos) << out;
    std::string upper = kept;
    for (char& c : upper)
        c = char(std::toupper(c));
    EXPECT_EQ(Verify(s_dir + "/pkg", &out, " --seal " + upper), 0) << out;

    // A report rewritten with its manifest holds by itself; the seal shown is
    // another, and the kept one finds it.
    std::string dir = Copy("rewritten");
    const std::string report = ReadAll(dir + "/report.txt") + "Signed: nobody\n";
    WriteAll(dir + "/report.txt", report);
    Reseal(dir, [&](std::string& body) { SetEntry(body, "report.txt", report); });
    EXPECT_EQ(Verify(dir, &out), 0) << out;
    EXPECT_EQ(out.find("seal: " + kept), std::string::npos) << out;
    EXPECT_EQ(Verify(dir, &out, " --seal " + kept), 1) << out;
    EXPECT_NE(out.find("FAILED   seal"), std::string::npos) << out;

    // Resealed with nothing to hold: no files, no master entry, an empty
    // master, or a range none of the master's blocks lie in.
    const std::function<void(std::string&)> edits[] = {
        [](std::string& b) {
            b = std::regex_replace(b, std::regex("\"files\": \\[[^\\]]*\\]"), "\"files\": []");
        },
        [](std::string& b) {
            b = std::regex_replace(b, std::regex("\"master\": \\{"), "\"m\": {");
        },
        [](std::string& b) { SetEntry(b, "master.QZF", ""); },
        [](std::string& b) {
            b = std::regex_replace(b, std::regex("\"from_utc\": "), "\"from_utc\": 1");
            b = std::regex_replace(b, std::regex("\"to_utc\": "), "\"to_utc\": 1");
        },
    };
    for (size_t i = 0; i < std::size(edits); ++i) {
        dir = Copy("resealed" + std::to_string(i));
        if (i == 2)
            WriteAll(dir + "/master.QZF", "");
        Reseal(dir, edits[i]);
        EXPECT_EQ(Verify(dir, &out), 1) << i << "\n" << out;
    }
}

TEST_F(PackageVerify, EscapedNamesAndSizesAreReadExactly) {
    // A name beyond Latin-1, one character a surrogate pair, as JSON escapes.
    std::string dir = Copy("names");
    WriteAll(dir + "/note \xCE\xA9\xF0\x9F\x93\xB7.txt", "seen\n");
    const auto listNote = [](const std::string& name) {
        return [name](std::string& b) {
            b = std::regex_replace(b, std::regex("\n  \\]"),
                                   ",\n    {\"name\": \"" + name +
                                       "\", \"size\": 5, \"sha256\": \"" + Sha256Hex("seen\n", 5) +
                                       "\"}\n  ]");
        };
    };
    Reseal(dir, listNote("note \\u03a9\\uD83D\\uDCF7.txt"));
    std::string out;
    EXPECT_EQ(Verify(dir, &out), 0) << out;
    for (const char* broken :
         {"note \\uD83D.txt", "note \\uDCF7\\uD83D.txt", "note \\uD83Dx.txt", "note \\u03g9.txt"}) {
        dir = Copy("broken");
        Reseal(dir, listNote(broken));
        EXPECT_EQ(Verify(dir, &out), 1) << broken << "\n" << out;
        EXPECT_NE(out.find("FAILED   manifest.json"), std::string::npos) << out;
    }

    // A size is plain digits, even where another spelling gives the same number.
    const std::string n = std::to_string(fs::file_size(s_dir + "/pkg/report.txt"));
    for (const std::string& size : {std::string("nan"), std::string("-1"), std::string("1e300"),
                                    n + ".0", n + "e0", std::string("9007199254740993")}) {
        dir = Copy("sizes");
        Reseal(dir, [&](std::string& b) {
            b = std::regex_replace(b, std::regex("(\"report\\.txt\", \"size\": )[0-9]+"),
                                   "$1" + size);
        });
        EXPECT_EQ(Verify(dir, &out), 1) << size << "\n" << out;
        EXPECT_NE(out.find("FAILED   manifest.json"), std::string::npos) << size << "\n" << out;
    }
}

} // namespace
} // namespace tv::evidence
