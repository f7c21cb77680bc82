#pragma once

// Options that several qzftool commands share, each declared once here with
// its check and its help (the declaring itself is cli/options.h).

#include "audio/audio_converter.h"
#include "cli/options.h"
#include "media/qzf_block.h"

#include <string>

namespace tv::qzf {

inline CLI::Option* AddDisk(CLI::App& cli, bool* disk) {
    return cli.add_flag("--disk", *disk,
                        "FILE is a recorder's disk or an image of one (16-bit words swapped)");
}

// The video format, as its name (QZ_QZB2); the code is the index both the
// reader and the decoder use.
inline CLI::Option* AddFormat(CLI::App& cli, int* format) {
    return tv::cli::AddValue(
        cli, "--format", "NAME",
        "the recording's format: QZ_QZF, QZ_QZE, QZ_QZD, QZ_QZB, QZ_QZB2 (default), QZ_QZB3 or "
        "QZ_QZA",
        [format](const std::string& name) {
            const int f = tv::FormatFromName(name.c_str());
            if (f < 0) {
                return "unknown format '" + name +
                       "' (QZ_QZF, QZ_QZE, QZ_QZD, QZ_QZB, QZ_QZB2, QZ_QZB3, QZ_QZA)";
            }
            *format = f;
            return std::string();
        });
}

// The recording's audio format, as its name (QZ_ALAW); the code is the
// converter's (1 to 6).
inline CLI::Option* AddAudio(CLI::App& cli, int* audioFormat) {
    return tv::cli::AddValue(cli, "--audio", "NAME",
                             "the recording's audio format: QZ_UPCM8, QZ_SPCM8, QZ_UPCM16, "
                             "QZ_SPCM16, QZ_ALAW (default) or QZ_MLAW",
                             [audioFormat](const std::string& name) {
                                 const int code = tv::AudioFormatFromName(name);
                                 if (code == 0) {
                                     return "unknown audio format '" + name + "'";
                                 }
                                 *audioFormat = code;
                                 return std::string();
                             });
}

inline CLI::Option* AddUtc(CLI::App& cli, bool* utc) {
    return cli.add_flag("--utc", *utc, "times in UTC, not the recording's local standard time");
}

} // namespace tv::qzf
