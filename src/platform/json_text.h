#pragma once

#include <cstddef>
#include <string>

namespace tv {

// A JSON string literal, quotes included, for text that may not be UTF-8
// (file names are bytes): a byte that is not part of a well-formed UTF-8
// character is written as the character of its Latin-1 reading (\u00XX), so
// the output is valid JSON whatever the input.
std::string JsonString(const std::string& s);

// Length of the well-formed UTF-8 sequence at p (at most n bytes), 0 when
// there is none: overlong forms, surrogates and values past U+10FFFF are not.
size_t Utf8Sequence(const unsigned char* p, size_t n);

} // namespace tv
