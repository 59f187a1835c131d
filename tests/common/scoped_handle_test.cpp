#include "common/scoped_handle.h"

#include <gtest/gtest.h>

#include <platform/testing.h>

#include <utility>

namespace {

namespace testing_api = platform::testing;

HANDLE OpenToken() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    return token;
}

// Every kind closes what it holds exactly once and hands it on when moved.
template <typename Owner>
class ScopedHandleKinds : public ::testing::Test {
protected:
    void SetUp() override { testing_api::Reset(); }
    void TearDown() override { testing_api::Reset(); }
};

using Kinds = ::testing::Types<ScopedHandle, ScopedKernelHandle>;
TYPED_TEST_SUITE(ScopedHandleKinds, Kinds);

TYPED_TEST(ScopedHandleKinds, ClosesWhatItHoldsOnceAndMovesOwnership) {
    {
        TypeParam first(OpenToken());
        TypeParam second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_TRUE(second);
        EXPECT_EQ(testing_api::OpenHandleCount(), 1u);

        TypeParam third(OpenToken());
        third = std::move(second);  // third's own token is closed
        EXPECT_EQ(testing_api::OpenHandleCount(), 1u);
        auto& same = third;
        third = std::move(same);
        EXPECT_TRUE(third);

        third.Reset(OpenToken());
        EXPECT_EQ(testing_api::OpenHandleCount(), 1u);
        third.Reset(third.get());  // the same handle is kept, not closed
        EXPECT_TRUE(third);
        EXPECT_EQ(testing_api::OpenHandleCount(), 1u);

        const HANDLE released = third.Release();
        EXPECT_FALSE(third);
        EXPECT_EQ(testing_api::OpenHandleCount(), 1u);
        EXPECT_TRUE(CloseHandle(released));
    }
    EXPECT_EQ(testing_api::OpenHandleCount(), 0u);
}

// Neither "no handle" value is ever passed to CloseHandle, whichever kind holds it: the
// injected failure is still there for the real close after them.
TYPED_TEST(ScopedHandleKinds, NeverClosesNullOrTheInvalidValue) {
    const HANDLE token = OpenToken();
    testing_api::FailCall("CloseHandle", ERROR_INVALID_HANDLE, 1);
    for (const HANDLE none : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        TypeParam owner(none);
        EXPECT_FALSE(owner);
        owner.Reset();
    }
    EXPECT_FALSE(CloseHandle(token));
    EXPECT_TRUE(CloseHandle(token));
}

// An empty owner answers what that kind's calls answer on failure, so it can be passed on.
TEST(EmptyScopedHandle, HoldsTheFailureValueOfItsKind) {
    EXPECT_EQ(ScopedHandle().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(ScopedKernelHandle().get(), nullptr);
    ScopedHandle file(OpenToken());
    file.Reset();
    EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
    ScopedKernelHandle token(OpenToken());
    token.Reset();
    EXPECT_EQ(token.get(), nullptr);
}

}  // namespace
