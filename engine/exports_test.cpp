// The shared engine library, loaded the way another program would load it.
#include <gtest/gtest.h>

#include "engine/nn_down.h"
#include "platform/library.h"

namespace {

TEST(SharedLibraryTest, ExportsTheEntryPointsAndNothingOfTheEngineInside) {
  platform::LibraryHandle hLibrary = platform::LoadLibrary(NNDOWN_LIBRARY);
  ASSERT_NE(hLibrary, nullptr);
  auto pfnStop = reinterpret_cast<decltype(&NN_Stop)>(platform::GetProcAddress(hLibrary, "NN_Stop"));
  auto pfnNN = reinterpret_cast<decltype(&NN_Down_nn)>(
      platform::GetProcAddress(hLibrary, "NN_Down_nn"));
  ASSERT_NE(pfnStop, nullptr);
  ASSERT_NE(pfnNN, nullptr);
  EXPECT_NE(platform::GetProcAddress(hLibrary, "NN_Down_n1"), nullptr);
  // The library has an engine of its own: its registry knows no task.
  EXPECT_EQ(pfnStop(1), 0);
  EXPECT_EQ(pfnNN(nullptr, nullptr, 0, 1, 0), 0);
  EXPECT_EQ(platform::GetProcAddress(hLibrary, "_Z8JudgeDirPKc"), nullptr);
  EXPECT_EQ(platform::GetProcAddress(hLibrary, "g_downEngine"), nullptr);
  platform::FreeLibrary(hLibrary);
}

}  // namespace
