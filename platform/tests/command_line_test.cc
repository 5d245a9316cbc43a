#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(WindowsCommandLine, ArgumentsFollowTheProgramsNameQuotedOrNot) {
  EXPECT_EQ(argumentsOfCommandLine(u"jetcompact.exe data.mdb"), u"data.mdb");
  EXPECT_EQ(argumentsOfCommandLine(u"\"C:\\Program Files\\jc\\jetcompact.exe\"  'my data.mdb',x  "),
            u"'my data.mdb',x  ");
  EXPECT_EQ(argumentsOfCommandLine(u"C:\\jc\\jetcompact.exe\t\"a b.mdb\""), u"\"a b.mdb\"");
  // A quoted name runs to its closing quote, spaces included, and on to the next space.
  EXPECT_EQ(argumentsOfCommandLine(u"\"a b\"c d"), u"d");
}

TEST(WindowsCommandLine, NoArgumentsGiveTheEmptyString) {
  EXPECT_EQ(argumentsOfCommandLine(u""), u"");
  EXPECT_EQ(argumentsOfCommandLine(u"jetcompact.exe"), u"");
  EXPECT_EQ(argumentsOfCommandLine(u"jetcompact.exe   "), u"");
  EXPECT_EQ(argumentsOfCommandLine(u"\"C:\\a b\\jetcompact.exe"), u"");  // a quote left open
  EXPECT_EQ(argumentsOfCommandLine(u"\"\" x"), u"x");
}

}  // namespace
}  // namespace platform
