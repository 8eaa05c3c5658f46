// The StrictModes group rule: a group may write the user's files only when
// the user is its one member.
#include <gtest/gtest.h>

#include "platform/linux/file_store.h"

namespace tw::platform {
namespace {

TEST(GroupRule, OnlyAGroupWhoseOneMemberIsTheUserIsPrivate) {
  constexpr uid_t kMe = 1000, kOther = 1001;
  // Debian's user-private group: the user's primary group, listing nobody.
  EXPECT_TRUE(group_is_private_to({"me", {kMe}, {}}, kMe, "me"));
  // Listing the user as well changes nothing; listing only the user too.
  EXPECT_TRUE(group_is_private_to({"me", {kMe}, {"me"}}, kMe, "me"));
  EXPECT_TRUE(group_is_private_to({"team", {}, {"me"}}, kMe, "me"));
  // Anyone else in it, as primary group or listed: shared.
  EXPECT_FALSE(group_is_private_to({"me", {kMe, kOther}, {}}, kMe, "me"));
  EXPECT_FALSE(group_is_private_to({"me", {kMe}, {"other"}}, kMe, "me"));
  EXPECT_FALSE(group_is_private_to({"staff", {}, {"me", "other"}}, kMe, "me"));
  EXPECT_FALSE(group_is_private_to({"other", {kOther}, {}}, kMe, "me"));
  // Nobody in it (a set-id program's group) is nobody's own.
  EXPECT_FALSE(group_is_private_to({"games", {}, {}}, kMe, "me"));
  // A user whose name is unknown cannot be matched in the list.
  EXPECT_FALSE(group_is_private_to({"team", {}, {""}}, kMe, ""));
}

}  // namespace
}  // namespace tw::platform
