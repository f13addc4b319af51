#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

#include "util/exceptions.h"

namespace {

template <int N>
void expectThrownAs(int number) {
    try {
        throwSystemError("op failed", number);
        FAIL() << "nothing thrown";
    } catch (const zev::ExSystemError<N>& e) {
        EXPECT_EQ(e.errorNumber, N);
        EXPECT_EQ(e.message, "op failed");
        EXPECT_EQ(std::string(e.what()), std::string("op failed: ") + std::strerror(N));
    }
}

TEST(Exceptions, KnownNumbersGetTheirOwnClass) {
    expectThrownAs<1>(EPERM);
    expectThrownAs<2>(ENOENT);
    expectThrownAs<4>(EINTR);
    expectThrownAs<10>(ECHILD);
    expectThrownAs<11>(EAGAIN);
}

TEST(Exceptions, OtherNumbersGiveTheBaseClassOnly) {
    try {
        throwSystemError("x", 12);
    } catch (const zev::ExSystemError<2>&) {
        FAIL() << "caught as ENOENT";
    } catch (const zev::ExSystemErrorBase& e) {
        EXPECT_EQ(typeid(e), typeid(zev::ExSystemErrorBase));
        EXPECT_EQ(e.errorNumber, 12);
    }
}

TEST(Exceptions, CaughtAsStdExceptionShowsComposedText) {
    try {
        throwSystemError("", ENOENT);
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), std::string(": ") + std::strerror(ENOENT));
        const auto* base = dynamic_cast<const zev::ExError*>(&e);
        ASSERT_NE(base, nullptr);
        EXPECT_EQ(base->message, "");
    }
}

TEST(Exceptions, PlainErrorAndCopies) {
    zev::ExError error("plain");
    EXPECT_STREQ(error.what(), "plain");
    zev::ExSystemError<11> original("again");
    zev::ExSystemError<11> copy = original;
    EXPECT_EQ(std::string(copy.what()), std::string(original.what()));
    EXPECT_EQ(copy.errorNumber, 11);
}

}  // namespace
