// The privilege the process scans take first, on both systems.
#include <gtest/gtest.h>

#include <string>

#include "tools/test_support.h"
#include "update/process_control.h"

namespace {

// A step that fails is named on standard output and stops nothing.
TEST(PrivilegeTest, TheDebugPrivilegeIsTakenAndAFailedStepNamed) {
#ifdef _WIN32
  // Whatever ran before in this process may have taken it already.
  ASSERT_TRUE(tools::DisablePrivilege("SeDebugPrivilege"));
  const bool bBefore = tools::PrivilegeEnabled("SeDebugPrivilege");
#endif
  testing::internal::CaptureStdout();
  EXPECT_EQ(EnablePrivilege("SeDebugPrivilege"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
#ifdef _WIN32
  // A token that starts with it enabled would prove nothing.
  EXPECT_FALSE(bBefore);
  EXPECT_TRUE(tools::PrivilegeEnabled("SeDebugPrivilege"));
  testing::internal::CaptureStdout();
  EXPECT_EQ(EnablePrivilege("SeNoSuchPrivilege"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "LookupPrivilege error!\n");
#endif
}

}  // namespace
