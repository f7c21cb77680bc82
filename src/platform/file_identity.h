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

} // namespace tv
