#include "platform/traps.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace platform {
namespace {

TEST(ResumeNext, SkipsAFailingStatementOnly) {
  std::vector<int> ran;
  resumeNext([&] { throw RuntimeError(75); });
  resumeNext([&] { ran.push_back(2); });
  EXPECT_EQ(ran, std::vector<int>{2});
  // Faults of the program itself are not numbered failures and are not ignored.
  EXPECT_THROW(resumeNext([] { throw std::logic_error("bug"); }), std::logic_error);
}

TEST(RunTrapped, HandsTheFailureToTheHandlerAndStopsThePhase) {
  std::vector<int> ran;
  const bool completed = runTrapped(
      [&] {
        ran.push_back(1);
        throw RuntimeError(3356, "in use");
        ran.push_back(2);
      },
      [&](const RuntimeError& failure) { ran.push_back(failure.number()); });
  EXPECT_FALSE(completed);
  EXPECT_EQ(ran, (std::vector<int>{1, 3356}));

  EXPECT_TRUE(runTrapped([] {}, [](const RuntimeError&) { ADD_FAILURE() << "handler ran"; }));
}

TEST(RunTrapped, AFailureInsideTheHandlerGoesToTheCaller) {
  try {
    runTrapped([] { throw RuntimeError(75); }, [](const RuntimeError&) { throw RuntimeError(57); });
    ADD_FAILURE() << "no failure reached the caller";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), 57);
    EXPECT_EQ(failure.description(), "Device I/O error");
  }
}

}  // namespace
}  // namespace platform
