#pragma once

// Reads AVI files back with FFmpeg's command-line tools, so the checks rest on
// an implementation we did not write.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tv::test {

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

inline std::string RunCapture(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        return out;
    }
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    pclose(p);
    return out;
}

using StreamInfo = std::map<std::string, std::string>;

// One map per stream, keys as ffprobe names them; frames are counted by decoding.
inline std::vector<StreamInfo> ProbeStreams(const std::string& path) {
    const std::string out = RunCapture("ffprobe -v error -count_frames -count_packets "
                                       "-show_streams -of default=noprint_wrappers=0 " +
                                       Quote(path) + " 2>/dev/null");
    std::vector<StreamInfo> streams;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t eol = out.find('\n', pos);
        if (eol == std::string::npos) {
            eol = out.size();
        }
        const std::string line = out.substr(pos, eol - pos);
        pos = eol + 1;
        if (line == "[STREAM]") {
            streams.emplace_back();
        } else if (!streams.empty()) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) {
                streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
    }
    return streams;
}

// "K" flags of the video packets, in order.
inline std::vector<bool> VideoKeyFlags(const std::string& path) {
    const std::string out = RunCapture("ffprobe -v error -select_streams v:0 -show_entries "
                                       "packet=flags -of csv=p=0 " +
                                       Quote(path) + " 2>/dev/null");
    std::vector<bool> flags;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t eol = out.find('\n', pos);
        if (eol == std::string::npos) {
            eol = out.size();
        }
        const std::string line = out.substr(pos, eol - pos);
        if (!line.empty()) {
            flags.push_back(line.find('K') != std::string::npos);
        }
        pos = eol + 1;
    }
    return flags;
}

// Presentation times of the video packets that carry a picture (held slots
// are empty chunks and do not show).
inline std::vector<double> PictureTimes(const std::string& path) {
    const std::string out = RunCapture("ffprobe -v error -select_streams v:0 -show_entries "
                                       "packet=pts_time,size -of csv=p=0 " +
                                       Quote(path) + " 2>/dev/null");
    std::vector<double> times;
    for (size_t pos = 0; pos < out.size();) {
        size_t eol = out.find('\n', pos);
        if (eol == std::string::npos) {
            eol = out.size();
        }
        const std::string line = out.substr(pos, eol - pos);
        pos = eol + 1;
        const size_t comma = line.find(',');
        if (comma != std::string::npos && std::stoi(line.substr(comma + 1)) > 0) {
            times.push_back(std::stod(line.substr(0, comma)));
        }
    }
    return times;
}

// Every stored video frame (held slots not repeated) as top-down B, G, R rows.
inline std::vector<uint8_t> DecodeVideo(const std::string& path) {
    const std::string out =
        RunCapture("ffmpeg -v error -i " + Quote(path) +
                   " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    return std::vector<uint8_t>(out.begin(), out.end());
}

// The audio stream's samples as stored (codec copied out, no conversion).
inline std::vector<uint8_t> DecodeAudio(const std::string& path, const std::string& rawFormat) {
    const std::string out = RunCapture("ffmpeg -v error -i " + Quote(path) +
                                       " -map 0:a:0 -c:a copy -f " + rawFormat + " - 2>/dev/null");
    return std::vector<uint8_t>(out.begin(), out.end());
}

} // namespace tv::test
