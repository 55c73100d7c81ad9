// One program per engine data folder: a second start shows the first
// program's window; another user can neither stop the start nor be asked.
#include "app/single_instance.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace orv {
namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(runtime_.isValid());
    ASSERT_TRUE(QFile::setPermissions(runtime_.path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
  }
  void TearDown() override { qunsetenv("XDG_RUNTIME_DIR"); }

  // Pumps until done() holds; false after 30 s.
  static bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
  }

  QTemporaryDir runtime_;
};

TEST_F(SingleInstanceTest, ASecondStartShowsTheFirstProgramsWindow) {
  SingleInstance first(QStringLiteral("/data/EdgeCache"));
  EXPECT_EQ(QFileInfo(first.SocketPath()).absolutePath(), runtime_.path());
  EXPECT_FALSE(first.ActivateRunning());
  int activated = 0;
  first.Listen([&] { ++activated; });

  SingleInstance second(QStringLiteral("/data/EdgeCache"));
  EXPECT_TRUE(second.ActivateRunning());
  EXPECT_TRUE(PumpUntil([&] { return activated == 1; }));
  EXPECT_FALSE(SingleInstance(QStringLiteral("/other/EdgeCache")).ActivateRunning()) << "another data folder";
}

// A socket another user listens on at the program's name (planted in a
// folder both can write) is neither asked nor in the way.
TEST_F(SingleInstanceTest, AnotherUsersListenerNeitherStopsTheStartNorIsAsked) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  SingleInstance program(QStringLiteral("/data/EdgeCache"));
  const QByteArray path = QFile::encodeName(program.SocketPath());
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    // The child: listens as user "nobody" (the credentials a peer sees are
    // those of the listen call), then waits to be killed.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    const bool listening = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                           ::setuid(65534) == 0 && ::listen(listener, 4) == 0;
    (void)!::write(ready[1], listening ? "r" : "f", 1);
    if (!listening) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char sign = 0;
  ASSERT_EQ(::read(ready[0], &sign, 1), 1) << "the other user's program ended before it said whether it listens";
  ::close(ready[0]);
  if (sign != 'r') {
    ::waitpid(other, nullptr, 0);
    GTEST_SKIP() << "cannot listen as another user here (no setuid in this container?)";
  }

  EXPECT_FALSE(program.ActivateRunning());
  int activated = 0;
  program.Listen([&] { ++activated; });
  SingleInstance second(QStringLiteral("/data/EdgeCache"));
  EXPECT_TRUE(second.ActivateRunning());
  EXPECT_TRUE(PumpUntil([&] { return activated == 1; }));

  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
}

}  // namespace
}  // namespace orv
