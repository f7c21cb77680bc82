#pragma once

#include <string>
#include <vector>

namespace tv {

// Writers must never truncate what they read: an output given as the input
// itself, through "./", a hard link or a symbolic link, would destroy it. Two
// names are one file when they reach the same device and inode; a name that
// does not exist (yet) is no file.
bool IsSameFile(const std::string& a, const std::string& b);
// The same question for a file already open as fd.
bool IsSameFileAsFd(const std::string& path, int fd);
// The first of inputs that writing to output would overwrite, or an empty
// string when output is safe to write. Empty input names are skipped.
std::string InputOverwrittenBy(const std::string& output, const std::vector<std::string>& inputs);

// Opens output for writing from its start without emptying it first, so that
// a name that turns out to reach one of inputs (through a link made at any
// moment before the open) is refused before one byte of it changes; only then
// is a regular file emptied. Result the descriptor (close-on-exec), or -1 with
// *error saying why in one line that names the output.
int OpenOutputFile(const std::string& output, const std::vector<std::string>& inputs,
                   std::string* error);

} // namespace tv
