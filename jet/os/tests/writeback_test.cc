// The flushes a growing file gets while it is written: they never fail the writer in silence.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "jet/os/posix/writeback.h"
#include "jet/testing/temp_folder.h"

namespace jet::posix {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

// A flush in between is asked for every 16 MB of a file written in pieces of any size; with a file that can be
// flushed all of them succeed, however often the owner stops and finishes.
TEST(Writeback, FlushesInBetweenOfAWritableFileSucceed) {
  test_support::TempFolder dir("jet-writeback");
  const std::string path = (dir.path() / "file").string();
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "page", 4), 4);
  {
    Writeback writeback(fd);
    for (int i = 0; i < 50; ++i) writeback.written(7 * kMiB);  // 21 flushes asked for, some while one runs
    EXPECT_EQ(writeback.finish(), 0);
    EXPECT_EQ(writeback.finish(), 0);
    writeback.written(200 * kMiB);  // after finish(): no flush is started any more
    writeback.stop();
  }
  {
    Writeback abandoned(fd);
    abandoned.written(16 * kMiB);
  }  // stopped by its destructor, before the file is closed
  EXPECT_EQ(::close(fd), 0);
}

// The system reports a failed writeback to one flush only: when a flush in between is the one told, finish() must
// tell the owner, or the final flush would succeed over lost bytes. A descriptor that is not open stands in for a
// disk that failed.
TEST(Writeback, AFailedFlushInBetweenIsReportedByFinish) {
  Writeback writeback(-1);
  writeback.written(10 * kMiB);
  EXPECT_EQ(writeback.finish(), 0) << "no flush asked for below 16 MB";

  Writeback failing(-1);
  for (int i = 0; i < 10; ++i) failing.written(16 * kMiB);  // ten flushes asked for; the first fails
  EXPECT_EQ(failing.finish(), EBADF);
  EXPECT_EQ(failing.finish(), EBADF);
}

}  // namespace
}  // namespace jet::posix
