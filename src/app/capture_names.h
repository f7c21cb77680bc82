#pragma once

#include <QDateTime>
#include <string>

namespace tv {

// folder + name as the system joins them: a folder shorter than 2 characters
// gives the bare name, a trailing "/" is not doubled.
std::string JoinCapturePath(const std::string& folder, const std::string& name);

// "YYYYMMDD-HHMMSS.bmp" for a still capture taken at `when`.
std::string StillCaptureName(const QDateTime& when);
// "YYYYMMDD-HHMMSS.QZF" for a local recording started at `when`.
std::string RecordingName(const QDateTime& when);

// The path itself when no file has it, else the first of "-2", "-3", ...
// inserted before the extension that no file has: a second capture in the
// same second must not overwrite the first. A link counts as a file even when
// it leads nowhere. Empty when every name up to "-9999" is taken.
std::string UniquePath(const std::string& path);

// Dotted IPv4 text for a host: the address itself when it is one, else the
// first IPv4 address the name resolves to, else "0.0.0.0".
std::string ResolveIpv4(const std::string& host);

} // namespace tv
