#include "platform/posix_runtime.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CommandLine, IsTheArgumentsJoinedBySingleSpaces) {
  const char* argv[] = {"/opt/jetcompact", "my", "", "data.mdb  ", "čaša"};
  EXPECT_EQ(joinArguments(5, argv), u"my  data.mdb   čaša");
  EXPECT_EQ(joinArguments(1, argv), u"");
}

}  // namespace
}  // namespace platform
