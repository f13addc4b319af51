#ifndef VERSTALLY_UTIL_UTF8_H
#define VERSTALLY_UTIL_UTF8_H

#include <string>

/// `text` with every invalid UTF-8 sequence replaced by "?"; valid UTF-8
/// (up to U+10FFFF, 4-byte sequences included) is copied unchanged. Invalid
/// are stray continuation bytes, bytes that never start a sequence (0xC0,
/// 0xC1, 0xF5 to 0xFF), overlong forms, surrogates, code points above
/// U+10FFFF and sequences cut short. One "?" stands for each maximal
/// subpart: the longest start of a valid sequence found at that point, or
/// a single byte when not even that.
std::string replaceInvalidUtf8(const std::string& text);

#endif
