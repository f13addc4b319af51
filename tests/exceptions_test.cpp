#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <typeinfo>

#include "util/exceptions.h"

namespace {

TEST(Exceptions, EachNumberHasItsClassAndEveryErrorItsComposedText) {
    // Known numbers get their own class, others the base class only.
    const std::pair<int, const std::type_info*> cases[] = {
        {EPERM, &typeid(zev::ExSystemError<EPERM>)},   {ENOENT, &typeid(zev::ExSystemError<ENOENT>)},
        {EINTR, &typeid(zev::ExSystemError<EINTR>)},   {ECHILD, &typeid(zev::ExSystemError<ECHILD>)},
        {EAGAIN, &typeid(zev::ExSystemError<EAGAIN>)}, {ENOMEM, &typeid(zev::ExSystemErrorBase)},
    };
    for (const auto& c : cases) {
        for (const std::string message : {"op failed", ""}) {
            try {
                throwSystemError(message, c.first);
                ADD_FAILURE() << "nothing thrown for " << c.first;
            } catch (const std::exception& e) {
                EXPECT_EQ(typeid(e), *c.second) << c.first;
                const auto* error = dynamic_cast<const zev::ExSystemErrorBase*>(&e);
                ASSERT_NE(error, nullptr) << c.first;
                EXPECT_EQ(error->errorNumber, c.first);
                EXPECT_EQ(error->message, message);
                EXPECT_EQ(std::string(e.what()), message + ": " + std::strerror(c.first));
            }
        }
    }

    zev::ExError plain("plain");
    EXPECT_STREQ(plain.what(), "plain");
    // A copy keeps its text when the original is gone.
    auto original = std::make_unique<zev::ExSystemError<EAGAIN>>("again");
    const zev::ExSystemError<EAGAIN> copy = *original;
    original.reset();
    EXPECT_EQ(std::string(copy.what()), std::string("again: ") + std::strerror(EAGAIN));
    EXPECT_EQ(copy.errorNumber, EAGAIN);
}

}  // namespace
