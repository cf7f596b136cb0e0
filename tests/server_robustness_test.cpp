// The substitute server under bad requests: each is answered 0 or its connection closed, the server keeps
// running, and a good client is served throughout.
#include "LinkWire.h"
#include "OffsetSpace.h"
#include "SimLink.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::uint32_t kLinkMessage = wire::registeredMessageId(kLinkMessageName);

// A raw connection to the server, speaking frames by hand.
class RawClient {
public:
  RawClient() {
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = simlink::serverSocketPath(simlink::runtimeDirectory(), "UIPCMAIN").path;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    connected = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { ::close(m_fd); }

  void sendBytes(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }

  void sendRequest(std::string_view name, std::uint32_t message = kLinkMessage) {
    std::array<std::uint8_t, wire::kMaxRequestSize> frame{};
    const std::size_t n = wire::encodeRequest({++m_sequence, message, 0xC001, 0, name}, frame);
    sendBytes({frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n)});
  }

  // The reply's result, or nullopt when the server closed the connection (or said nothing for 2 s).
  std::optional<std::int32_t> reply() {
    std::array<std::uint8_t, wire::kReplySize> bytes{};
    std::size_t have = 0;
    while (have < bytes.size()) {
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, 2000) != 1) {
        return std::nullopt;
      }
      const ssize_t n = ::recv(m_fd, bytes.data() + have, bytes.size() - have, 0);
      if (n <= 0) {
        return std::nullopt;
      }
      have += static_cast<std::size_t>(n);
    }
    const auto decoded = wire::decodeReply(bytes);
    EXPECT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->sequence, m_sequence);
    return decoded->result;
  }

  // True when the server has closed this connection (or it failed) within `waitMs`; false when it is open and
  // quiet.
  bool closedByServer(int waitMs = 0) {
    pollfd p{m_fd, POLLIN, 0};
    std::uint8_t byte = 0;
    return ::poll(&p, 1, waitMs) == 1 && ::recv(m_fd, &byte, 1, MSG_DONTWAIT) <= 0;
  }

  bool connected = false;

private:
  int m_fd = -1;
  std::uint32_t m_sequence = 0;
};

// A shared block made by hand, with records written into it directly.
class Block {
public:
  // The name gets this process's id, so that tests running side by side never share a block.
  explicit Block(const std::string& base, std::uint32_t size = kSimLinkBlockSize)
      : name(base + "-" + std::to_string(::getpid())),
        m_path(simlink::runtimeDirectory() + "/" + name) {
    EXPECT_TRUE(simlink::prepareRuntimeDirectory(simlink::runtimeDirectory()).ok());
    ::unlink(m_path.c_str());
    m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    EXPECT_EQ(::ftruncate(m_fd, size), 0);
    bytes = static_cast<std::uint8_t*>(::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0));
    m_size = size;
  }
  ~Block() {
    ::munmap(bytes, m_size);
    ::close(m_fd);
    ::unlink(m_path.c_str());
  }
  std::uint32_t putRead(std::uint32_t at, std::uint32_t offset, std::uint32_t size) {
    wire::putU32(bytes + at, kSimLinkReadId);
    wire::putU32(bytes + at + 4, offset);
    wire::putU32(bytes + at + 8, size);
    wire::putU32(bytes + at + 12, 0);
    return at + kSimLinkReadHeader + size;
  }
  std::uint32_t putWrite(std::uint32_t at, std::uint32_t offset, std::uint32_t value) {
    wire::putU32(bytes + at, kSimLinkWriteId);
    wire::putU32(bytes + at + 4, offset);
    wire::putU32(bytes + at + 8, 4);
    wire::putU32(bytes + at + 12, value);
    return at + kSimLinkWriteHeader + 4;
  }
  int fd() const { return m_fd; }

  std::string name;
  std::uint8_t* bytes = nullptr;

private:
  std::string m_path;
  int m_fd = -1;
  std::uint32_t m_size = 0;
};

class ServerRobustness : public ::testing::Test {
protected:
  // The good client's check: a fresh read of the poked word answers 1 with the right value.
  void expectGoodClientServed() {
    Block block("skyvane-test-good");
    wire::putU32(block.bytes + block.putRead(0, 0x1000, 4), 0);
    RawClient good;
    ASSERT_TRUE(good.connected) << "the server is gone";
    good.sendRequest(block.name);
    EXPECT_EQ(good.reply(), 1);
    EXPECT_EQ(wire::getU32(block.bytes + kSimLinkReadHeader), 0x600DF00Du);
  }

  TempRuntimeDir runtime;
  SimProcess sim{{"--feed", "none", "--poke", "0x1000:u32=0x600DF00D"}};
};

TEST_F(ServerRobustness, MalformedFramesCloseTheirConnection) {
  {
    RawClient c;
    c.sendBytes({0x53, 0x56, 0x4B, 0x32, 1, 0, 0, 0});  // wrong magic
    EXPECT_EQ(c.reply(), std::nullopt);
  }
  {
    RawClient c;
    std::vector<std::uint8_t> frame(wire::kRequestHeaderSize);
    wire::putU32(frame.data(), wire::kMagic);
    wire::putU16(frame.data() + 20, 300);  // a name longer than any block name
    c.sendBytes(frame);
    EXPECT_EQ(c.reply(), std::nullopt);
  }
  expectGoodClientServed();
}

TEST_F(ServerRobustness, RequestsItCannotServeAreAnsweredZero) {
  RawClient c;
  Block good("skyvane-test-block");
  wire::putU32(good.bytes + good.putRead(0, 0x1000, 4), 0);
  c.sendRequest(good.name, kLinkMessage + 1);  // another message id
  EXPECT_EQ(c.reply(), 0);
  c.sendRequest("skyvane-test-missing");  // no such block
  EXPECT_EQ(c.reply(), 0);
  c.sendRequest("../../etc/passwd");  // not a block name
  EXPECT_EQ(c.reply(), 0);
  c.sendRequest("with space");
  EXPECT_EQ(c.reply(), 0);
  {
    Block small("skyvane-test-small", 0x4000);  // wrong size
    wire::putU32(small.bytes + small.putRead(0, 0x1000, 4), 0);
    c.sendRequest(small.name);
    EXPECT_EQ(c.reply(), 0);
  }
  if (::geteuid() == 0) {
    Block foreign("skyvane-test-foreign");  // another user's
    wire::putU32(foreign.bytes + foreign.putRead(0, 0x1000, 4), 0);
    ASSERT_EQ(::fchown(foreign.fd(), 65534, 65534), 0);
    c.sendRequest(foreign.name);
    EXPECT_EQ(c.reply(), 0);
  }
  // The same connection still gets good answers.
  c.sendRequest(good.name);
  EXPECT_EQ(c.reply(), 1);
  expectGoodClientServed();
}

TEST_F(ServerRobustness, BadRecordsAreRefusedWholeAndChangeNothing) {
  RawClient c;
  Block block("skyvane-test-records");
  const auto serve = [&] {
    c.sendRequest(block.name);
    return c.reply();
  };
  // An unknown record id behind a good write: nothing is applied.
  std::uint32_t at = block.putWrite(0, 0x1000, 0xBAD);
  wire::putU32(block.bytes + at, 3);
  EXPECT_EQ(serve(), 0);
  // A read running past the block, and one whose size would wrap 32-bit arithmetic.
  block.putRead(0, 0, kSimLinkBlockSize);
  EXPECT_EQ(serve(), 0);
  block.putRead(0, 0, 0xFFFFFFF8);
  EXPECT_EQ(serve(), 0);
  // No end mark before the end of the block.
  for (std::uint32_t i = 0; i + 4 <= kSimLinkBlockSize; i += 4) {
    wire::putU32(block.bytes + i, kSimLinkWriteId);
    if (i + 12 <= kSimLinkBlockSize) {
      wire::putU32(block.bytes + i + 8, 0);
    }
    i += 8;
  }
  EXPECT_EQ(serve(), 0);
  expectGoodClientServed();
}

TEST_F(ServerRobustness, OffsetsPastTheSpaceReadZerosAndDropWrites) {
  RawClient c;
  Block block("skyvane-test-far");
  std::memset(block.bytes, 0xEE, 64);
  std::uint32_t at = block.putWrite(0, 0xFFFE, 0x44332211);  // half inside, half past the end
  at = block.putRead(at, 0xFFFE, 4);
  const std::uint32_t farData = at + kSimLinkReadHeader;
  at = block.putRead(at, 0xFFFFFFFE, 4);  // offset + size wraps 32 bits
  wire::putU32(block.bytes + at, 0);
  c.sendRequest(block.name);
  EXPECT_EQ(c.reply(), 1);
  EXPECT_EQ(wire::getU32(block.bytes + 12 + 4 + kSimLinkReadHeader), 0x00002211u);
  EXPECT_EQ(wire::getU32(block.bytes + farData), 0u);
  expectGoodClientServed();
}

TEST_F(ServerRobustness, AStalledHalfFrameDoesNotHoldUpOthers) {
  RawClient staller;
  std::vector<std::uint8_t> half(10);
  wire::putU32(half.data(), wire::kMagic);
  staller.sendBytes(half);
  expectGoodClientServed();
  RawClient silent;  // connects and says nothing
  expectGoodClientServed();
}

TEST_F(ServerRobustness, ManyClientsAtOnce) {
  constexpr int kClients = 6;
  std::vector<pid_t> children;
  for (int i = 0; i < kClients; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      // Each process has its own link and block; 100 batches each, interleaved with the others.
      SimLinkResult r{};
      bool ok = SimLinkOpen(0, r);
      for (int n = 0; ok && n < 100; ++n) {
        std::uint32_t value = 0;
        ok = SimLinkRead(0x1000, 4, &value, r) && SimLinkProcess(r) && value == 0x600DF00D;
      }
      SimLinkClose();
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
}

TEST_F(ServerRobustness, StopsCleanlyAndRemovesItsSocket) {
  const std::string path = simlink::serverSocketPath(runtime.path(), "UIPCMAIN").path;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const int status = sim.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(::stat(path.c_str(), &st), 0);
}

TEST(ServerStart, RefusesARuntimeDirectoryOthersCanReach) {
  TempRuntimeDir runtime;
  ASSERT_EQ(::chmod(runtime.path().c_str(), 0755), 0);
  const ProgramRun run = runProgram({SKYVANE_SIM_PATH, "--feed", "none"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("open to other users"), std::string::npos) << run.err;
}

TEST(ServerStart, RefusesASecondServerOfTheSameClassAndBadArguments) {
  TempRuntimeDir runtime;
  SimProcess first({"--feed", "none"});
  ASSERT_TRUE(first.running());
  const ProgramRun second = runProgram({SKYVANE_SIM_PATH});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("already listening"), std::string::npos) << second.err;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--feed", "fast"},
                                               {"--set", "airspeed"},
                                               {"--set", "warp=9"},
                                               {"--poke", "0x10:u8=300"},
                                               {"--poke", "0x10:q32=1"},
                                               {"--class", "OTHER"},
                                               {"--bogus"}}) {
    std::vector<std::string> argv{SKYVANE_SIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramRun run = runProgram(argv);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_FALSE(run.err.empty());
  }
}

// A server in this process, with a short idle limit, serving on its own thread until destroyed.
class InProcessServer {
public:
  explicit InProcessServer(std::chrono::milliseconds idleLimit) : m_server(m_space, idleLimit) {
    m_space.poke(0x1000, catalogue::RawType::U32, 0x600DF00D);
    EXPECT_TRUE(m_server.listen(simlink::runtimeDirectory(), kPrimaryServerClass).ok());
    EXPECT_EQ(::pipe(m_stop), 0);
    m_thread = std::thread([this] { m_server.run(m_stop[0]); });
  }
  ~InProcessServer() {
    ::close(m_stop[1]);
    m_thread.join();
    ::close(m_stop[0]);
  }

private:
  server::OffsetSpace m_space;
  server::SimServer m_server;
  int m_stop[2] = {-1, -1};
  std::thread m_thread;
};

TEST(ServerIdleConnections, SilentOnesMakeRoomOnceTheTableIsThreeQuartersFull) {
  using namespace std::chrono_literals;
  // Long enough that opening the 300 connections on a loaded machine never takes as long.
  constexpr auto kIdleLimit = 1000ms;
  constexpr int kIdle = 300;
  TempRuntimeDir runtime;
  InProcessServer server(kIdleLimit);
  Block block("skyvane-test-idle");
  wire::putU32(block.bytes + block.putRead(0, 0x1000, 4), 0);

  RawClient busy;  // the oldest connection, but it keeps talking
  busy.sendRequest(block.name);
  ASSERT_EQ(busy.reply(), 1);
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < kIdle; ++i) {
    idle.push_back(std::make_unique<RawClient>());
    ASSERT_TRUE(idle.back()->connected);
  }
  // The table is full (the busy one and the first 255 idle ones); nobody has been silent long enough yet.
  ASSERT_TRUE(idle.back()->closedByServer(1000));
  for (std::size_t i = 0; i < idle.size(); ++i) {
    EXPECT_EQ(idle[i]->closedByServer(), i >= server::SimServer::kMaxClients - 1) << "idle connection " << i;
  }
  const auto until = std::chrono::steady_clock::now() + kIdleLimit + 100ms;
  while (std::chrono::steady_clock::now() < until) {
    busy.sendRequest(block.name);
    ASSERT_EQ(busy.reply(), 1);
    std::this_thread::sleep_for(50ms);
  }

  const auto start = std::chrono::steady_clock::now();
  RawClient good;
  ASSERT_TRUE(good.connected);
  good.sendRequest(block.name);
  EXPECT_EQ(good.reply(), 1);
  // Answered at once, not after the client's 2 s reply timeout: closing the silent ones never holds it up.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
  EXPECT_EQ(wire::getU32(block.bytes + kSimLinkReadHeader), 0x600DF00Du);

  // The longest silent were closed, in the order they came, until the table, the newcomer and the busy one
  // included, was three-quarters full; the rest stay however long they are silent.
  constexpr std::size_t kInTable = server::SimServer::kMaxClients - 1;
  constexpr std::size_t kClosedFromTable = kInTable - (server::SimServer::kIdleClosingFrom - 2);
  std::this_thread::sleep_for(50ms);
  for (std::size_t i = 0; i < idle.size(); ++i) {
    const bool inTable = i < kInTable;
    EXPECT_EQ(idle[i]->closedByServer(), !inTable || i < kClosedFromTable) << "idle connection " << i;
  }
  busy.sendRequest(block.name);
  EXPECT_EQ(busy.reply(), 1);
}

TEST(ServerAnswer, OnlyARegularFileOfTheRuntimeDirectoryIsServedNeverALink) {
  TempRuntimeDir runtime;
  server::OffsetSpace space;
  server::SimServer server(space);
  Block real("real");
  real.putRead(0, 0x1000, 4);
  EXPECT_EQ(server.answer(kLinkMessage, real.name), 1);
  const std::string link = "link-" + std::to_string(::getpid());
  ASSERT_EQ(::symlink((runtime.path() + "/" + real.name).c_str(), (runtime.path() + "/" + link).c_str()), 0);
  EXPECT_EQ(server.answer(kLinkMessage, link), 0);
  EXPECT_EQ(server.answer(kLinkMessage, ".."), 0);
  EXPECT_EQ(server.answer(kLinkMessage, "."), 0);
}

TEST(ServerAnswer, BlockNamesOfAnyLengthAreSafe) {
  server::OffsetSpace space;
  space.poke(0x1000, catalogue::RawType::U32, 0x600DF00D);
  TempRuntimeDir runtime;
  server::SimServer server(space);  // never listens: answer() stands on its own, in the usual runtime directory
  // The longest name a block may have, 255 bytes, is served.
  const std::string pid = std::to_string(::getpid());
  Block longest(std::string(wire::kMaxNameLength - pid.size() - 1, 'n'));
  ASSERT_EQ(longest.name.size(), wire::kMaxNameLength);
  wire::putU32(longest.bytes + longest.putRead(0, 0x1000, 4), 0);
  EXPECT_EQ(server.answer(kLinkMessage, longest.name), 1);
  EXPECT_EQ(wire::getU32(longest.bytes + kSimLinkReadHeader), 0x600DF00Du);

  // Longer ones are refused, also when they begin with that block's name, and the block is left alone.
  wire::putU32(longest.bytes + kSimLinkReadHeader, 0);
  for (const std::string& name : {longest.name + "x", longest.name + std::string(4096, 'x'), std::string(1 << 20, 'a'),
                                  std::string(wire::kMaxNameLength + 1, '/')}) {
    EXPECT_EQ(server.answer(kLinkMessage, name), 0) << name.size();
  }
  EXPECT_EQ(wire::getU32(longest.bytes + kSimLinkReadHeader), 0u);
  EXPECT_EQ(server.answer(kLinkMessage, std::string_view()), 0);
  EXPECT_EQ(server.answer(kLinkMessage, std::string_view("\0", 1)), 0);
}

TEST(OffsetSpaceBlocks, ClientVersionIsKeptApartFromTheSimulatorVersion) {
  server::OffsetSpace space;
  std::array<std::uint8_t, kSimLinkBlockSize> block{};
  wire::putU32(block.data(), kSimLinkWriteId);
  wire::putU32(block.data() + 4, kClientVersionOffset);
  wire::putU32(block.data() + 8, 2);
  wire::putU16(block.data() + 12, kClientVersion);
  std::size_t dirty = 0;
  ASSERT_EQ(space.serveBlock(block, dirty), 1);
  EXPECT_EQ(space.clientVersion(), kClientVersion);
  std::uint8_t version[4];
  space.read(kSimulatorVersionOffset, version);
  EXPECT_EQ(wire::getU32(version) >> 16, kSimulatorVersionMark);
}

}  // namespace
