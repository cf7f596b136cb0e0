// The link client against a real skyvane-sim and against fakes: handshake, result codes, capacity, the walk
// back, and what a failed batch leaves behind.
#include "LinkWire.h"
#include "PosixLinkTransport.h"
#include "SimLink.h"
#include "support/TestServers.h"
#include "support/TestTransport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// The file of the block this process's link makes first, in the runtime directory.
std::string ourBlockPath() {
  char name[64];
  std::snprintf(name, sizeof name, "FsasmLib:IPC:%X:1", static_cast<unsigned>(::getpid()));
  return simlink::blockPath(simlink::runtimeDirectory(), name);
}

class LinkTest : public ::testing::Test {
protected:
  void SetUp() override { SimLinkSetTransport(transport); }
  void TearDown() override {
    SimLinkClose();
    SimLinkSetTransport(SimLinkDefaultTransport());
  }

  // Opens against whatever listens now; returns the result code.
  SimLinkResult open(std::uint16_t requested = 0) {
    SimLinkResult result = SimLinkOk;
    opened = SimLinkOpen(requested, result);
    return result;
  }

  std::uint32_t readU32(std::uint32_t offset) {
    std::uint32_t value = 0;
    SimLinkResult r{};
    EXPECT_TRUE(SimLinkRead(offset, 4, &value, r));
    EXPECT_TRUE(SimLinkProcess(r)) << SimLinkResultName(r);
    return value;
  }

  void expectNothingHeld() {
    EXPECT_EQ(transport.windowsHeld, 0);
    EXPECT_EQ(transport.atomsHeld, 0);
    EXPECT_EQ(transport.mappingsHeld, 0);
    EXPECT_EQ(transport.viewsHeld, 0);
  }

  TempRuntimeDir runtime;
  TestTransport transport;
  bool opened = false;
};

TEST_F(LinkTest, OpensAgainstTheSubstituteServerAndReadsWhatWasPoked) {
  SimProcess sim({"--feed", "none", "--poke", "0x1000:u32=0xDEADBEEF"});
  ASSERT_TRUE(sim.running());
  EXPECT_EQ(open(), SimLinkOk);
  EXPECT_TRUE(opened);
  EXPECT_EQ(SimLinkSimulatorVersion(), 9u);  // the low word of 0xFADE0009
  EXPECT_GE(SimLinkServerVersion(), kMinServerVersion);
  // A block named after the process id in upper-case hex and open counter 1.
  char expected[64];
  std::snprintf(expected, sizeof expected, "FsasmLib:IPC:%X:1", static_cast<unsigned>(::getpid()));
  EXPECT_EQ(SimLinkBlockName(), expected);
  // One handshake try was enough: one 100 ms sleep, the client version written once.
  EXPECT_EQ(transport.sleepsMs, std::vector<std::uint32_t>{kHandshakeSleepMs});
  EXPECT_EQ(readU32(0x1000), 0xDEADBEEFu);
}

TEST_F(LinkTest, OpenOnAnOpenLinkIsRefusedAndTheLinkKeepsWorking) {
  SimProcess sim({"--feed", "none", "--poke", "0x2000:u32=77"});
  ASSERT_EQ(open(), SimLinkOk);
  EXPECT_EQ(open(), SimLinkAlreadyOpen);
  EXPECT_FALSE(opened);
  EXPECT_TRUE(SimLinkIsOpen());
  EXPECT_EQ(readU32(0x2000), 77u);
}

// The thread that opens the link holds it until it closes it: a call from another thread meanwhile (its batch
// would interleave with the holder's) ends the process saying so; once the link is closed another thread may
// open it, and the first may again after that.
TEST_F(LinkTest, AnotherThreadMayUseTheLinkOnlyOnceItsOpenerHasClosedIt) {
  SimProcess sim({"--feed", "none", "--poke", "0x2000:u32=77"});
  ASSERT_EQ(open(), SimLinkOk);
  const auto onAnotherThread = [](const std::function<void()>& call) { std::thread(call).join(); };
  const char* said = "the simulator link: used from a second thread while another holds it";
  EXPECT_DEATH(onAnotherThread([] {
                 SimLinkResult r{};
                 std::uint32_t v = 0;
                 SimLinkRead(0x2000, 4, &v, r);
               }),
               said);
  EXPECT_DEATH(onAnotherThread([] { SimLinkClose(); }), said);
  EXPECT_DEATH(onAnotherThread([] {
                 SimLinkResult r{};
                 SimLinkOpen(0, r);
               }),
               said);
  EXPECT_EQ(readU32(0x2000), 77u) << "the holder's link works on";

  SimLinkClose();
  std::uint32_t value = 0;
  bool read = false;
  onAnotherThread([&] {
    SimLinkResult r{};
    read = SimLinkOpen(0, r) && SimLinkRead(0x2000, 4, &value, r) && SimLinkProcess(r);
    SimLinkClose();
  });
  EXPECT_TRUE(read);
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(open(), SimLinkOk);
  // A failed open holds nothing either.
  SimLinkClose();
  sim.stop();
  onAnotherThread([&] { EXPECT_EQ(open(), SimLinkNoServer); });
  EXPECT_EQ(open(), SimLinkNoServer);
}

// Links owned by their users: two links of one process, each opened and read by a thread of its own at the same
// time, again and again. Each gets a block of its own (the next free name, taken with its lock so that the other
// can never take it for a dead one's) and every batch whole; the process's default link is not touched.
TEST_F(LinkTest, TwoLinksOfOneProcessReadOnTwoThreadsAtOnceEachThroughItsOwnBlock) {
  SimProcess sim({"--feed", "none", "--poke", "0x2000:u32=77", "--poke", "0x3000:u32=99"});
  ASSERT_TRUE(sim.running());
  struct Reader {
    std::uint32_t offset;
    std::uint32_t expected;
    simlink::Link link;
    std::string blockName;
    int batches = 0;  // answered with the expected value
  };
  std::array<Reader, 2> readers{{{0x2000, 77, {}, {}, 0}, {0x3000, 99, {}, {}, 0}}};
  std::set<std::string> names;
  for (int round = 0; round < 10; ++round) {
    std::vector<std::thread> threads;
    for (Reader& reader : readers) {
      threads.emplace_back([&reader] {
        SimLinkResult r{};
        if (!reader.link.open(0, r)) {
          return;
        }
        reader.blockName = reader.link.blockName();
        for (int n = 0; n < 20; ++n) {
          std::uint32_t value = 0;
          if (reader.link.read(reader.offset, 4, &value, r) && reader.link.process(r) && value == reader.expected) {
            ++reader.batches;
          }
        }
        reader.link.close();
      });
    }
    for (std::thread& t : threads) {
      t.join();
    }
    EXPECT_NE(readers[0].blockName, readers[1].blockName) << "round " << round;
    names.insert(readers[0].blockName);
    names.insert(readers[1].blockName);
  }
  EXPECT_EQ(readers[0].batches, 200);
  EXPECT_EQ(readers[1].batches, 200);
  const std::string counters = SimLinkBlockNameOf(static_cast<std::uint32_t>(::getpid()), 1) + " " +
                               SimLinkBlockNameOf(static_cast<std::uint32_t>(::getpid()), 2);
  EXPECT_EQ(names.size(), 2u) << "the names of counters 1 and 2, each free again after its close: " << counters;
  EXPECT_FALSE(SimLinkIsOpen());
}

// Whoever finds a block file unlocked under its name takes it for a dead process's and the name for free. So a
// block is never seen so: locked before its name exists, and its name gone before the lock is let go. A watcher
// tries the lock whenever the name exists while the link opens and closes again and again.
TEST_F(LinkTest, ABlockIsNeverSeenUnlockedUnderItsName) {
  SimProcess sim({"--feed", "none"});
  ASSERT_TRUE(sim.running());
  simlink::Link link;
  const std::string path = ourBlockPath();
  std::atomic<bool> done{false};
  std::atomic<int> seen{0};
  std::atomic<int> unlocked{0};
  std::thread watcher([&] {
    while (!done) {
      const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) {
        continue;
      }
      ++seen;
      struct stat opened {};
      struct stat named {};
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // Counts only while the name is still this file's: the owner may have removed it meanwhile.
        if (::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_ino == named.st_ino) {
          ++unlocked;
        }
        ::flock(fd, LOCK_UN);
      }
      ::close(fd);
    }
  });
  for (int round = 0; round < 30; ++round) {  // an open takes 100 ms: the handshake's pause
    SimLinkResult r{};
    if (link.open(0, r)) {
      link.close();
    }
  }
  done = true;
  watcher.join();
  EXPECT_GT(seen, 0) << "the watcher never saw the block";
  EXPECT_EQ(unlocked, 0) << "of " << seen << " sightings";
}

TEST_F(LinkTest, NoServerAndCallsOnAClosedLink) {
  EXPECT_EQ(open(), SimLinkNoServer);
  std::uint32_t value = 0;
  SimLinkResult r{};
  EXPECT_FALSE(SimLinkRead(0x2BC, 4, &value, r));
  EXPECT_EQ(r, SimLinkNotOpen);
  EXPECT_FALSE(SimLinkWrite(0x2BC, 4, &value, r));
  EXPECT_EQ(r, SimLinkNotOpen);
  EXPECT_FALSE(SimLinkProcess(r));
  EXPECT_EQ(r, SimLinkNotOpen);
  SimLinkClose();  // safe in any state
  SimLinkClose();
  expectNothingHeld();
}

TEST_F(LinkTest, ProcessWithNothingQueuedSendsNothing) {
  SimProcess sim({"--feed", "none"});
  ASSERT_EQ(open(), SimLinkOk);
  const std::size_t sendsBefore = transport.timeoutsMs.size();
  SimLinkResult r{};
  EXPECT_FALSE(SimLinkProcess(r));
  EXPECT_EQ(r, SimLinkNothingQueued);
  EXPECT_EQ(transport.timeoutsMs.size(), sendsBefore);
}

struct VersionCase {
  const char* className;
  const char* serverVersion;
  const char* simulatorVersion;
  std::uint16_t requested;
  SimLinkResult expected;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
  *os << c.className << " server " << c.serverVersion << " simulator " << c.simulatorVersion << " requested "
      << c.requested << " -> " << SimLinkResultName(c.expected);
}

class HandshakeTest : public LinkTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(HandshakeTest, AcceptsOrRefusesTheServer) {
  const VersionCase& c = GetParam();
  SimProcess sim({"--feed", "none", "--class", c.className, "--poke", std::string("0x3304:u32=") + c.serverVersion,
                  "--poke", std::string("0x3308:u32=") + c.simulatorVersion});
  ASSERT_TRUE(sim.running());
  const SimLinkResult got = open(c.requested);
  EXPECT_EQ(got, c.expected) << SimLinkResultName(got);
  if (c.expected != SimLinkOk) {
    EXPECT_FALSE(SimLinkIsOpen());
    expectNothingHeld();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, HandshakeTest,
    ::testing::Values(VersionCase{"UIPCMAIN", "0x19980005", "0xFADE0009", 0, SimLinkOk},
                      VersionCase{"UIPCMAIN", "0x19980004", "0xFADE0009", 0, SimLinkVersionMismatch},
                      VersionCase{"UIPCMAIN", "0xFFFFFFFF", "0xFADE0009", 0, SimLinkOk},
                      VersionCase{"UIPCMAIN", "0x19980005", "0xFADF0009", 0, SimLinkVersionMismatch},
                      VersionCase{"FS98MAIN", "0x19980005", "0xFADE0009", 0, SimLinkOk},
                      VersionCase{"FS98MAIN", "0x19980004", "0xFADE0009", 0, SimLinkServerNotRunning},
                      VersionCase{"UIPCMAIN", "0x19980005", "0xFADE0009", 9, SimLinkOk},
                      VersionCase{"UIPCMAIN", "0x19980005", "0xFADE0009", 10, SimLinkWrongSimulator}),
    [](const auto& info) {
      return std::to_string(info.index) + "_" + std::string(SimLinkResultName(info.param.expected));
    });

TEST_F(LinkTest, ServerThatNeverFillsTheVersionsGetsFiveTries) {
  for (const char* className : {"UIPCMAIN", "FS98MAIN"}) {
    transport.sleepsMs.clear();
    transport.timeoutsMs.clear();
    SimProcess sim({"--feed", "none", "--class", className, "--poke", "0x3304:u32=0", "--poke", "0x3308:u32=0"});
    EXPECT_EQ(open(), std::string(className) == "UIPCMAIN" ? SimLinkVersionMismatch : SimLinkServerNotRunning);
    EXPECT_EQ(transport.sleepsMs, std::vector<std::uint32_t>(5, kHandshakeSleepMs));
    EXPECT_EQ(transport.timeoutsMs, std::vector<std::uint32_t>(5, kSendTimeoutMs));
    expectNothingHeld();
  }
}

TEST_F(LinkTest, PlatformFailuresDuringOpenLeaveNothingBehind) {
  SimProcess sim({"--feed", "none"});
  struct Case {
    bool TestTransport::*fault;
    SimLinkResult expected;
  };
  for (const Case& c :
       {Case{&TestTransport::failRegister, SimLinkRegisterFailed}, Case{&TestTransport::failAtom, SimLinkAtomFailed},
        Case{&TestTransport::failMapping, SimLinkMappingFailed}, Case{&TestTransport::failView, SimLinkViewFailed}}) {
    transport.*c.fault = true;
    EXPECT_EQ(open(), c.expected);
    expectNothingHeld();
    transport.*c.fault = false;
  }
  EXPECT_EQ(open(), SimLinkOk);
}

TEST_F(LinkTest, ABlockOfAnotherUserUnderOurNameIsLeftAloneAndTheNextNameTaken) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to give a block to another user";
  }
  SimProcess sim({"--feed", "none", "--poke", "0x1000:u32=0xFEEDF00D"});
  const std::string path = ourBlockPath();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fchown(fd, 65534, 65534), 0);
  ::close(fd);
  EXPECT_EQ(open(), SimLinkOk);
  EXPECT_TRUE(SimLinkBlockName().ends_with(":2")) << SimLinkBlockName();
  EXPECT_EQ(readU32(0x1000), 0xFEEDF00Du);
  SimLinkClose();
  EXPECT_TRUE(std::filesystem::exists(path)) << "another user's file is never removed";
  ::unlink(path.c_str());
  expectNothingHeld();
}

// Two PID namespaces of one user sharing a runtime directory give two live processes one id: the block name a
// live process holds (its lock) is passed over, never taken from it; blocks of dead processes (no lock) are
// cleared away when a block is made.
TEST_F(LinkTest, ALiveBlockUnderOurNameIsPassedOverAndDeadOnesAreCleared) {
  SimProcess sim({"--feed", "none", "--poke", "0x1000:u32=0xFEEDF00D"});
  const std::string path = ourBlockPath();
  const int held = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);  // what the live twin holds
  const std::string dead = runtime.path() + "/FsasmLib:IPC:7FFFFFF0:1";
  const int deadFd = ::open(dead.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(deadFd, 0);
  const timespec longAgo[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::futimens(deadFd, longAgo), 0);  // its process died an hour ago: nothing writes it, nobody locks it
  ::close(deadFd);

  EXPECT_EQ(open(), SimLinkOk);
  EXPECT_TRUE(SimLinkBlockName().ends_with(":2")) << SimLinkBlockName();
  EXPECT_EQ(readU32(0x1000), 0xFEEDF00Du);
  EXPECT_TRUE(std::filesystem::exists(path)) << "the live twin keeps its block";
  EXPECT_FALSE(std::filesystem::exists(dead));
  SimLinkClose();
  ::close(held);
  ::unlink(path.c_str());
}

TEST_F(LinkTest, BlockNamesSquattedInTheSharedMemoryFolderByAnotherUserDoNotStopTheLink) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to squat names as another user";
  }
  // What another user can do: create the names this process's blocks will have where every user may.
  std::vector<std::string> squatted;
  for (int n = 1; n <= 4; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "/dev/shm/FsasmLib:IPC:%X:%d", static_cast<unsigned>(::getpid()), n);
    const int fd = ::open(name, O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      EXPECT_EQ(::fchown(fd, 65534, 65534), 0);
      ::close(fd);
      squatted.push_back(name);
    }
  }
  SimProcess sim({"--feed", "none", "--poke", "0x1000:u32=0xFEEDF00D"});
  EXPECT_EQ(open(), SimLinkOk);
  EXPECT_EQ(readU32(0x1000), 0xFEEDF00Du);
  for (const std::string& name : squatted) {
    ::unlink(name.c_str());
  }
}

TEST_F(LinkTest, ALeftoverBlockOfThisUserAndProcessIdIsTakenOver) {
  SimProcess sim({"--feed", "none"});
  const int fd = ::open(ourBlockPath().c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(open(), SimLinkOk);
}

TEST_F(LinkTest, CapacityBoundaryOfTheBlock) {
  SimProcess sim({"--feed", "none"});
  ASSERT_EQ(open(), SimLinkOk);
  static std::uint8_t big[kSimLinkBlockSize];
  SimLinkResult r{};
  // 16 + 32,492 + 4 = 32,512: exactly full.
  EXPECT_FALSE(SimLinkRead(0, 32493, big, r));
  EXPECT_EQ(r, SimLinkBufferFull);
  ASSERT_TRUE(SimLinkRead(0, 32492, big, r));
  EXPECT_FALSE(SimLinkRead(0, 0, nullptr, r));
  EXPECT_EQ(r, SimLinkBufferFull);
  std::uint8_t one = 0;
  EXPECT_FALSE(SimLinkWrite(0, 0, &one, r));
  EXPECT_EQ(r, SimLinkBufferFull);
  // The refused requests did not disturb the queued one.
  EXPECT_TRUE(SimLinkProcess(r)) << SimLinkResultName(r);

  // A write's record is 12 + size: 12 + 32,496 + 4 = 32,512.
  EXPECT_FALSE(SimLinkWrite(0x8000, 32497, big, r));
  EXPECT_EQ(r, SimLinkBufferFull);
  EXPECT_TRUE(SimLinkWrite(0x8000, 32496, big, r));
  EXPECT_TRUE(SimLinkProcess(r));
}

TEST_F(LinkTest, ReadsWithoutDestinationOrSizeAreSkippedAndLaterReadsWin) {
  SimProcess sim({"--feed", "none", "--poke", "0x100:u32=0x11223344", "--poke", "0x104:u32=0x55667788"});
  ASSERT_EQ(open(), SimLinkOk);
  std::uint32_t value = 0;
  std::uint32_t untouched = 0xCAFEF00D;
  std::uint64_t overlap = 0;
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkRead(0x100, 4, nullptr, r));
  ASSERT_TRUE(SimLinkRead(0x100, 0, &untouched, r));
  ASSERT_TRUE(SimLinkRead(0x100, 8, &overlap, r));
  ASSERT_TRUE(SimLinkRead(0x104, 4, &overlap, r));  // overlaps the low half of the previous destination
  ASSERT_TRUE(SimLinkRead(0x104, 4, &value, r));
  ASSERT_TRUE(SimLinkProcess(r));
  EXPECT_EQ(value, 0x55667788u);
  EXPECT_EQ(untouched, 0xCAFEF00Du);
  EXPECT_EQ(overlap, 0x5566778855667788u);
}

TEST_F(LinkTest, WritesReachTheServerInQueueOrder) {
  SimProcess sim({"--feed", "none"});
  ASSERT_EQ(open(), SimLinkOk);
  const std::uint16_t first = 0x1111;
  const std::uint16_t second = 0x2222;
  std::uint16_t back = 0;
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkWrite(0x78EA, 2, &first, r));
  ASSERT_TRUE(SimLinkWrite(0x78EA, 2, &second, r));
  ASSERT_TRUE(SimLinkRead(0x78EA, 2, &back, r));
  ASSERT_TRUE(SimLinkProcess(r));
  EXPECT_EQ(back, 0x2222);
}

struct MisbehaviourCase {
  FakeServer::After after;
  int answer;
  SimLinkResult expected;
  std::size_t attempts;
};

void PrintTo(const MisbehaviourCase& c, std::ostream* os) {
  constexpr const char* kAfter[] = {"stall", "close", "answer"};
  *os << kAfter[static_cast<int>(c.after)] << " " << c.answer << " -> " << SimLinkResultName(c.expected) << " after "
      << c.attempts << " attempts";
}

class MisbehavingServerTest : public LinkTest, public ::testing::WithParamInterface<MisbehaviourCase> {};

TEST_P(MisbehavingServerTest, FailedBatchReportsAndTheNextStartsClean) {
  const MisbehaviourCase& c = GetParam();
  FakeServer server("UIPCMAIN", 1, c.after, c.answer);  // the handshake is answered honestly
  ASSERT_EQ(open(), SimLinkOk);
  // Ten 2000 ms attempts in about a second for a stalled server; a server that answers keeps the real timeout,
  // which a loaded machine may well need.
  transport.timeoutSpeedUp = c.after == FakeServer::After::Stall ? 20 : 1;
  transport.timeoutsMs.clear();
  transport.sleepsMs.clear();

  std::uint32_t value = 0xABCDABCD;
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkRead(0x3304, 4, &value, r));
  EXPECT_FALSE(SimLinkProcess(r));
  EXPECT_EQ(r, c.expected) << SimLinkResultName(r);
  EXPECT_EQ(value, 0xABCDABCDu) << "a failed batch must leave destinations alone";
  EXPECT_EQ(transport.timeoutsMs, std::vector<std::uint32_t>(c.attempts, kSendTimeoutMs));
  EXPECT_EQ(transport.sleepsMs.size(), c.attempts == 1 ? 0u : c.attempts);

  // The failed batch was dropped: the next read is the first record of the block.
  ASSERT_TRUE(SimLinkRead(0x0330, 2, &value, r));
  const int fd = ::open(simlink::blockPath(simlink::runtimeDirectory(), SimLinkBlockName()).c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::uint8_t header[16];
  ASSERT_EQ(::pread(fd, header, sizeof header, 0), 16);
  ::close(fd);
  EXPECT_EQ(wire::getU32(header), kSimLinkReadId);
  EXPECT_EQ(wire::getU32(header + 4), 0x0330u);
  EXPECT_EQ(wire::getU32(header + 8), 2u);
}

INSTANTIATE_TEST_SUITE_P(Faults, MisbehavingServerTest,
                         ::testing::Values(MisbehaviourCase{FakeServer::After::Stall, 0, SimLinkTimeout, kSendAttempts},
                                           MisbehaviourCase{FakeServer::After::Close, 0, SimLinkSendFailed,
                                                            kSendAttempts},
                                           MisbehaviourCase{FakeServer::After::Answer, 0, SimLinkBadData, 1},
                                           MisbehaviourCase{FakeServer::After::Answer, 2, SimLinkBadData, 1}),
                         [](const auto& info) {
                           return std::to_string(info.index) + "_" +
                                  std::string(SimLinkResultName(info.param.expected));
                         });

TEST_F(LinkTest, AServerThatBreaksTheRecordsCannotMakeTheClientWriteOutOfBounds) {
  // This server answers 1 to every batch without serving it, so the client walks back exactly the records
  // the test leaves in the block.
  FakeServer server("UIPCMAIN", 1, FakeServer::After::Answer, 1);
  ASSERT_EQ(open(), SimLinkOk);
  EXPECT_EQ(server.space().clientVersion(), kClientVersion);
  const int fd = ::open(simlink::blockPath(simlink::runtimeDirectory(), SimLinkBlockName()).c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  auto* block =
      static_cast<std::uint8_t*>(::mmap(nullptr, kSimLinkBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  ASSERT_NE(block, MAP_FAILED);

  struct Guarded {
    std::uint8_t before[8];
    std::uint16_t value;
    std::uint8_t after[8];
    bool intact() const {
      for (int i = 0; i < 8; ++i) {
        if (before[i] != 0x5A || after[i] != 0x5A) {
          return false;
        }
      }
      return true;
    }
  };
  // The previous batch's destinations: a stale reference must not reach them.
  Guarded previous[3];
  SimLinkResult r{};
  for (Guarded& g : previous) {
    ASSERT_TRUE(SimLinkRead(0x0330, 2, &g.value, r));
  }
  ASSERT_TRUE(SimLinkProcess(r)) << SimLinkResultName(r);  // untouched records: every destination filled
  std::memset(previous, 0x5A, sizeof previous);

  // firstAnswered: the tampering lies behind the first read, whose answer may then arrive.
  const auto tampered = [&](const char* what, auto&& edit, bool firstAnswered = false) {
    Guarded g;
    std::memset(&g, 0x5A, sizeof g);
    ASSERT_TRUE(SimLinkRead(0x0330, 2, &g.value, r));
    ASSERT_TRUE(SimLinkRead(0x0332, 2, nullptr, r));
    edit();
    EXPECT_FALSE(SimLinkProcess(r)) << what;
    EXPECT_EQ(r, SimLinkBadData) << what;
    EXPECT_TRUE(g.intact()) << what;
    if (!firstAnswered) {
      EXPECT_EQ(g.value, 0x5A5A) << what << ": an unanswered destination keeps its bytes";
    }
    for (const Guarded& p : previous) {
      EXPECT_TRUE(p.intact() && p.value == 0x5A5A) << what;
    }
  };
  tampered("size grown", [&] {
    wire::putU32(block + 8, 64);
    wire::putU32(block + 16 + 64, 0);
  });
  // 2 bytes shrunk to 1: the walk lands inside the answer, whose next byte reads as an end mark; the read is
  // never matched to its 2-byte destination.
  tampered("size shrunk", [&] { wire::putU32(block + 8, 1); });
  tampered("reference past the table", [&] { wire::putU32(block + 12, 5000); });
  tampered("reference into the previous batch", [&] { wire::putU32(block + 12, 3); });
  tampered("size near 4 GiB", [&] { wire::putU32(block + 8, 0xFFFFFFF0u); });
  tampered(
      "unknown id", [&] { wire::putU32(block + 18, 7); }, true);
  tampered("end mark moved before the read", [&] { wire::putU32(block, 0); });
  // The last record grown to the block's end: the client always leaves room for its end mark, so records
  // without one are not (all) this batch's.
  tampered(
      "records up to the block's end",
      [&] { wire::putU32(block + 18 + 8, kSimLinkBlockSize - 18 - kSimLinkReadHeader); }, true);
  ::munmap(block, kSimLinkBlockSize);
  ::close(fd);
}

// The client uses only its own private runtime directory and a server of its own user; anything else is said
// on stderr, once, and never connected to (the link keeps looking, as for an absent server).
class LinkTrust : public ::testing::Test {
protected:
  // findWindow's handle (released at once) and what it said on stderr.
  std::pair<bool, std::string> find() {
    ::testing::internal::CaptureStderr();
    const simlink::LinkTransport::Handle window = transport.findWindow("UIPCMAIN");
    std::string said = ::testing::internal::GetCapturedStderr();
    if (window != 0) {
      transport.releaseWindow(window);
    }
    return {window != 0, said};
  }

  TempRuntimeDir dir;
  simlink::PosixLinkTransport transport;
};

TEST_F(LinkTrust, ADirectoryOpenToOthersIsRefusedOnceWithItsReason) {
  FakeServer server("UIPCMAIN", INT_MAX, FakeServer::After::Answer);
  EXPECT_TRUE(find().first);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const auto [found, said] = find();
  EXPECT_FALSE(found);
  EXPECT_NE(said.find("open to other users"), std::string::npos) << said;
  EXPECT_EQ(find().second, "") << "said once while it lasts";
  ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
  EXPECT_TRUE(find().first);
}

TEST_F(LinkTrust, ARuntimeDirectoryGivenAsALinkIsRefusedSayingWhereItLeads) {
  // The link's target is a name of the file system: its escape sequence is not passed on to the terminal.
  const std::string target = dir.path() + "/real\x1b[2J";
  ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
  const std::string link = dir.path() + "/linked";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  const Result<void> checked = simlink::checkRuntimeDirectory(link);
  ASSERT_FALSE(checked.ok());
  EXPECT_EQ(checked.error(), "runtime directory " + link + " is a symbolic link (to " + dir.path() +
                                 "/real?[2J), which is refused: another user able to change the link could "
                                 "redirect it; name the directory itself (SKYVANE_RUNTIME_DIR)");
  EXPECT_TRUE(simlink::checkRuntimeDirectory(target).ok());
}

TEST_F(LinkTrust, ADirectoryTooLongForASocketAddressIsSaidOnce) {
  const std::string deep = dir.path() + "/" + std::string(110, 'd');
  ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
  const std::string previous = ::getenv("SKYVANE_RUNTIME_DIR");
  ::setenv("SKYVANE_RUNTIME_DIR", deep.c_str(), 1);
  const auto [found, said] = find();
  const std::string again = find().second;
  ::setenv("SKYVANE_RUNTIME_DIR", previous.c_str(), 1);
  EXPECT_FALSE(found);
  EXPECT_NE(said.find("is too long for a server's socket address"), std::string::npos) << said;
  EXPECT_EQ(again, "") << "said once while it lasts";
}

TEST_F(LinkTrust, AnotherUsersDirectoryOrServerIsRefused) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to play another user (uid 65534)";
  }
  constexpr uid_t kOther = 65534;
  {
    FakeServer server("UIPCMAIN", INT_MAX, FakeServer::After::Answer);
    ASSERT_EQ(::chown(dir.path().c_str(), kOther, kOther), 0);
    const auto [found, said] = find();
    EXPECT_FALSE(found);
    EXPECT_NE(said.find("belongs to another user; name a directory of your own with SKYVANE_RUNTIME_DIR"),
              std::string::npos)
        << said;
    ASSERT_EQ(::chown(dir.path().c_str(), 0, 0), 0);
  }
  // A server that listens as another user in our directory (bound by root, then listening as the other user:
  // the credentials a client sees are those of listen()).
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir.path() + "/UIPCMAIN";
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::setresgid(kOther, kOther, kOther) != 0 || ::setresuid(kOther, kOther, kOther) != 0 || ::listen(fd, 4) != 0) {
      ::_exit(1);
    }
    [[maybe_unused]] const ssize_t n = ::write(ready[1], "1", 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  const auto [found, said] = find();
  EXPECT_FALSE(found);
  EXPECT_NE(said.find("runs as user 65534"), std::string::npos) << said;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::unlink((dir.path() + "/UIPCMAIN").c_str());
}

}  // namespace
