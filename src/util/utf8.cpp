#include "util/utf8.h"

#include <cstddef>

std::string replaceInvalidUtf8(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            result += text[i++];
            continue;
        }
        // The sequence's length and the range of its second byte, which
        // rules out overlong forms, surrogates and code points past U+10FFFF.
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        std::size_t taken = 1;
        while (taken < length && i + taken < size) {
            const unsigned char next = static_cast<unsigned char>(text[i + taken]);
            if (next < low || next > high) break;
            low = 0x80;
            high = 0xBF;
            ++taken;
        }
        if (length != 0 && taken == length)
            result.append(text, i, length);
        else
            result += '?';
        i += taken;
    }
    return result;
}
