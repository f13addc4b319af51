#include <gtest/gtest.h>
#include <string>

#include "util/utf8.h"

namespace {

TEST(ReplaceInvalidUtf8, KeepsValidTextAndReplacesEachMaximalSubpart) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"1:9.2.4-1", "1:9.2.4-1"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"},
        {"5\xff" "0\x80", "5?0?"},                     // never valid; stray continuation
        {"\xc0\xaf \xe0\x80\xaf \xf0\x8f\xbf\xbf", "?? ??? ????"},  // overlong forms
        {"\xed\xa0\x80 \xed\x9f\xbf", "??? \xed\x9f\xbf"},           // surrogate; U+D7FF
        {"\xf4\x90\x80\x80 \xf5\x80", "???? ??"},     // above U+10FFFF
        {"\xe2\x82 \xf0\x9f\x98", "? ?"},              // cut short by other text or the end
        {"\xe2\x82\xe2\x82\xac", "?\xe2\x82\xac"},    // a new sequence starts after the cut
    };
    for (const auto& c : cases) EXPECT_EQ(replaceInvalidUtf8(c.first), c.second) << c.first;
}

}  // namespace
