// The menu launches' log: appended to, rotated at its limit into one older generation, never more than twice
// the limit on disk, private, and never written through a link; and skyvane --log catching a whole session.
#include "LogFile.h"
#include "OutputLog.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(LogFile, AppendsRotatesAtItsLimitAndKeepsOneOlderGeneration) {
  const std::string dir = newTestDirectory("log") + "/state/skyvane";  // parents made too
  {
    auto log = settings::LogFile::open(dir, 100);
    ASSERT_TRUE(log.ok()) << log.error();
    EXPECT_TRUE(log->write(std::string(60, 'a')));
    EXPECT_TRUE(log->write(std::string(40, 'b')));  // exactly the limit: still one file
    EXPECT_FALSE(fs::exists(dir + "/skyvane.log.1"));
    EXPECT_TRUE(log->write("c"));
  }
  EXPECT_EQ(contents(dir + "/skyvane.log.1"), std::string(60, 'a') + std::string(40, 'b'));
  EXPECT_EQ(contents(dir + "/skyvane.log"), "c");
  {
    // Opened again it appends; one write larger than the whole limit keeps its end only.
    auto log = settings::LogFile::open(dir, 100);
    ASSERT_TRUE(log.ok());
    EXPECT_TRUE(log->write(std::string(150, 'd') + "end"));
  }
  EXPECT_EQ(contents(dir + "/skyvane.log.1"), "c");
  EXPECT_EQ(contents(dir + "/skyvane.log"), std::string(97, 'd') + "end");
  struct stat st {};
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat((dir + "/skyvane.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A full log is rotated when opened.
  std::ofstream(dir + "/skyvane.log", std::ios::app) << std::string(200, 'e');
  ASSERT_TRUE(settings::LogFile::open(dir, 100).ok());
  EXPECT_EQ(fs::file_size(dir + "/skyvane.log"), 0u);
}

TEST(LogFile, NeverWritesThroughALinkNorIntoAFolderOthersMayWrite) {
  const std::string base = newTestDirectory("log-links");
  const std::string elsewhere = base + "/elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, base + "/linked");
  EXPECT_FALSE(settings::LogFile::open(base + "/linked").ok()) << "a folder given as a link";
  const std::string dir = base + "/state";
  fs::create_directories(dir);
  fs::create_symlink(elsewhere + "/victim", dir + "/skyvane.log");
  const auto refused = settings::LogFile::open(dir);
  EXPECT_FALSE(refused.ok());
  EXPECT_FALSE(fs::exists(elsewhere + "/victim")) << "the log was opened through the link";
  const std::string open = base + "/open";
  fs::create_directories(open);
  ::chmod(open.c_str(), 0777);
  EXPECT_FALSE(settings::LogFile::open(open).ok()) << "a folder anyone may write to";
  EXPECT_FALSE(settings::LogFile::open("").ok());
}

TEST(LogFile, OutputSentToTheLogIsCopiedWholeAndAProgramStillHoldingItDelaysNothing) {
  const std::string state = newTestDirectory("output");
  int holder[2];  // the child says here which program still holds the log's pipe, to be ended afterwards
  ASSERT_EQ(::pipe(holder), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(holder[0]);
    // In a child of its own: the log takes this process's standard output and error.
    auto log = settings::OutputLog::start(state + "/skyvane", "test");
    if (!log) {
      ::_exit(2);
    }
    for (int i = 0; i < 2000; ++i) {
      std::printf("line %d\n", i);
    }
    std::fprintf(stderr, "last line\n");
    // A program started from here keeps the pipe open long after (as a log viewer opened from the panel does).
    const pid_t sleeper = ::fork();
    if (sleeper == 0) {
      ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    [[maybe_unused]] const ssize_t said = ::write(holder[1], &sleeper, sizeof sleeper);
    log->reset();
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  int status = -1;
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << "the end waited for the pipe";
  ::close(holder[1]);
  pid_t sleeper = -1;
  if (::read(holder[0], &sleeper, sizeof sleeper) == sizeof sleeper && sleeper > 0) {
    ::kill(sleeper, SIGKILL);  // not our child: the child's, reaped by init
  }
  ::close(holder[0]);
  EXPECT_EQ(status, 0);
  const std::string text = contents(state + "/skyvane/skyvane.log");
  EXPECT_NE(text.find("line 0\nline 1\n"), std::string::npos);
  EXPECT_NE(text.find("line 1998\nline 1999\n"), std::string::npos);
  EXPECT_NE(text.find("last line\n"), std::string::npos);
}

TEST(LogFile, SkyvaneWithLogCatchesWhatTheSessionPrints) {
  TempRuntimeDir runtime;
  const std::string state = newTestDirectory("state");
  ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  ::setenv("SKYVANE_HOME", runtime.path().c_str(), 1);
  // The replay of a file that does not exist: the server refuses it, and says why into the log.
  const ProgramRun run = runProgram({SKYVANE_FRONT_PATH, "--log", "replay", runtime.path() + "/missing.csv"});
  ::unsetenv("XDG_STATE_HOME");
  ::unsetenv("SKYVANE_HOME");
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "") << "nothing on the terminal";
  const std::string log = contents(state + "/skyvane/skyvane.log");
  EXPECT_NE(log.find("--- "), std::string::npos) << log;
  EXPECT_NE(log.find("--log replay"), std::string::npos) << log;
  EXPECT_NE(log.find("missing.csv"), std::string::npos) << log;
  EXPECT_NE(log.find("skyvane: the simulator server did not start"), std::string::npos) << log;
}

}  // namespace
