// Misuse of an outcome ends the process with a message in every build: a
// caller that skips the ok() check must not go on with a value read from the
// wrong member.
#include <gtest/gtest.h>

#include <string>

#include "base/error.h"

namespace tw {
namespace {

TEST(ErrorDeathTest, AskingTheWrongMemberEndsTheProcessWithTheError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Result<std::string> failed = Error{"The file cannot be read.", "opening x: No such file", 2};
  EXPECT_DEATH((void)failed.value(), "value\\(\\) of an error: The file cannot be read\\. \\(opening x");
  EXPECT_DEATH((void)Result<int>(7).error(), "error\\(\\) of a value");
  EXPECT_DEATH((void)Status().error(), "error\\(\\) of a success");
  EXPECT_DEATH((void)std::move(Result<std::string>(Error{"Gone.", "", 0})).value(), "value\\(\\) of an error: Gone\\.");
}

TEST(ErrorTest, OutcomesCarryTheirValueOrError) {
  Result<std::string> text = std::string("abc");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, "abc");
  EXPECT_TRUE(text.status().ok());
  const Result<int> failed = Error{"No.", "", 5};
  EXPECT_EQ(failed.value_or(3), 3);
  EXPECT_EQ(failed.status().error().errno_value, 5);
  // A status of another error type, as an interface with richer failures uses.
  const BasicStatus<int> other = 42;
  ASSERT_FALSE(other.ok());
  EXPECT_EQ(other.error(), 42);
}

}  // namespace
}  // namespace tw
