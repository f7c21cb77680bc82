#pragma once

// Whole transfers on a descriptor. A read or write may move fewer bytes than
// asked (a pipe, a socket, a signal, a file system under pressure) or be
// interrupted before it moves any; every loop that needs all of its bytes
// goes through these, so none of them forgets a case.

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace tv {

// Reads until n bytes or the end of the file. Result the bytes read (fewer
// than n only at the end), or -1 with errno set. *done, when given, holds the
// bytes read before the end or the error.
ssize_t ReadFull(int fd, void* buf, size_t n, size_t* done = nullptr);
// The same at a file offset, leaving the file position alone.
ssize_t PreadFull(int fd, void* buf, size_t n, uint64_t off, size_t* done = nullptr);
// Writes all n bytes. Result n, or -1 with errno set; a descriptor that takes
// no more bytes is ENOSPC. *done as above.
ssize_t WriteFull(int fd, const void* buf, size_t n, size_t* done = nullptr);

} // namespace tv
