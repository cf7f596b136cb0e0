// The front command as a desktop user meets it, with the real programs on an X server: `skyvane demo` starts
// the server and a moving panel and SIGTERM stops both, leaving no process and no socket; a server already
// running is used and left running; a second skyvane says so; the FlightGear protocol file is installed and a
// changed one is pointed out.
#include "PngFile.h"
#include "WindowLayout.h"
#include "support/BridgeTestKit.h"
#include "support/Desktop.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

using std::chrono::milliseconds;

std::vector<pid_t> childrenOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<pid_t> children;
  pid_t child = 0;
  while (file >> child) {
    children.push_back(child);
  }
  return children;
}

bool alive(pid_t pid) {
  return ::kill(pid, 0) == 0;
}

std::string commandOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(file, name);
  return name;
}

std::optional<PngImage> screenshot(const std::string& path) {
  if (std::system(("import -window root " + path + " 2>/dev/null").c_str()) != 0) {
    return std::nullopt;
  }
  return readPng(path);
}

// An X server with openbox of this test's own: the demo's windows must not cover another test's.
Desktop g_desktop;
std::string g_noDesktop = "not started";

class DesktopRun : public ::testing::Environment {
public:
  void SetUp() override { g_noDesktop = g_desktop.start(); }
};
const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(new DesktopRun);

class Front : public ::testing::Test {
protected:
  void SetUp() override {
    if (g_noDesktop == "not installed") {
      GTEST_SKIP() << "Xvfb or openbox is not installed";
    }
    ASSERT_EQ(g_noDesktop, "");
    home = privateTestDirectory() + "/front-home-" + std::to_string(::getpid());
    fs::create_directories(home);
    ::setenv("SKYVANE_HOME", home.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("FG_ROOT");  // also when a test stopped early
    std::error_code ignored;
    fs::remove_all(home, ignored);
  }

  TempRuntimeDir runtime;
  std::string home;
};

TEST_F(Front, DemoStartsAMovingPanelAndSigtermStopsEverythingItStarted) {
  // The user's own profile of the demo aircraft's name is neither flown nor saved over.
  const std::string own = home + "/profiles/single";
  fs::create_directories(own);
  const std::string ownConfig = "[General]\nNbOfEngines=2\n";
  std::ofstream(own + "/config.ini") << ownConfig;
  ChildProcess skyvane({SKYVANE_FRONT_PATH, "demo"}, true);
  ASSERT_TRUE(skyvane.waitFor("listening on")) << skyvane.text();
  std::this_thread::sleep_for(std::chrono::seconds(4));
  const std::vector<pid_t> children = childrenOf(skyvane.pid());
  std::vector<std::string> names;
  for (const pid_t child : children) {
    names.push_back(commandOf(child));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"skyvane-sim", "skyvane-gauges"}));
  // The demo's layout shows the gauges; the aircraft is flying: two pictures a second apart differ.
  const auto first = screenshot(home + "/one.png");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const auto second = screenshot(home + "/two.png");
  ASSERT_TRUE(first && second);
  long differing = 0;
  for (std::size_t i = 0; i < first->rgba.size(); i += 4) {
    differing += first->rgba[i] != second->rgba[i] || first->rgba[i + 1] != second->rgba[i + 1] ? 1 : 0;
  }
  EXPECT_GT(differing, 500) << "the needles did not move";

  const int status = skyvane.stop();
  EXPECT_TRUE(WIFEXITED(status)) << status;
  for (const pid_t child : children) {
    EXPECT_FALSE(alive(child)) << commandOf(child) << " was left running";
  }
  EXPECT_FALSE(fs::exists(runtime.path() + "/UIPCMAIN")) << "the socket was left behind";
  EXPECT_TRUE(fs::exists(home + "/demo/profiles/single/config.ini")) << "the demo aircraft is a profile of the demo's";
  std::ifstream kept(own + "/config.ini");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), ownConfig);
  EXPECT_FALSE(fs::exists(own + "/" + settings::kLayoutFileName));
}

TEST_F(Front, AServerAlreadyRunningIsUsedAndLeftRunningAndASecondSkyvaneIsRefused) {
  SimProcess sim({"--feed", "none"});
  ASSERT_TRUE(sim.running());
  ChildProcess skyvane({SKYVANE_FRONT_PATH, "demo", "twin"}, true);
  ASSERT_TRUE(skyvane.waitFor("already running")) << skyvane.text();

  const ProgramRun second = runProgram({SKYVANE_FRONT_PATH, "demo"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("another skyvane is running"), std::string::npos) << second.err;

  std::this_thread::sleep_for(std::chrono::seconds(1));
  skyvane.stop();
  EXPECT_TRUE(fs::exists(runtime.path() + "/UIPCMAIN")) << "the server that was running is still serving";
  EXPECT_EQ(sim.stop(), 0);
}

TEST_F(Front, ALockFileThatCannotBeOpenedIsNamedWithItsErrorNotTakenForASecondSkyvane) {
  // A link in the lock's place is never followed.
  ASSERT_EQ(::symlink((home + "/elsewhere").c_str(), (runtime.path() + "/skyvane.lock").c_str()), 0);
  const ProgramRun run = runProgram({SKYVANE_FRONT_PATH, "demo"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot open " + runtime.path() + "/skyvane.lock: "), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("another skyvane"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(home + "/elsewhere"));
}

// A TCP port free a moment ago on loopback.
int freeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// The answer to a GET of `path` on loopback's `port`: its headers and the body they announce (the server may
// keep the connection open after it).
std::string httpGet(int port, const std::string& path) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    ssize_t n = 0;
    const auto whole = [&answer] {
      const std::size_t end = answer.find("\r\n\r\n");
      const std::size_t length = answer.find("Content-Length: ");
      return end != std::string::npos && length != std::string::npos &&
             answer.size() >= end + 4 + std::stoul(answer.substr(length + 16, 12));
    };
    while (!whole() && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return answer;
}

TEST_F(Front, BrowsersOfAServerAlreadyRunningSeeTheUsersOwnGaugesNotTheDemos) {
  std::ofstream(home + "/config.ini") << "[General]\nAnemometer=0\n";
  SimProcess sim({"--feed", "none"});
  ASSERT_TRUE(sim.running());
  const int port = freeTcpPort();
  ChildProcess skyvane({SKYVANE_FRONT_PATH, "web", "127.0.0.1:" + std::to_string(port)}, true);
  ASSERT_TRUE(skyvane.waitFor("skyvane-web: open")) << skyvane.text();
  const std::string list = httpGet(port, "/api/gauges");
  EXPECT_NE(list.find(R"("caption":"Anemometer","gauge":"TForm2","on":false)"), std::string::npos) << list;
  skyvane.stop();
  EXPECT_EQ(sim.stop(), 0);
}

TEST_F(Front, TwoProfilesKeepTheirOwnLayoutsAcrossRestarts) {
  const auto runPanel = [](const std::string& profile) {
    ChildProcess panel({SKYVANE_GAUGES_PATH, "--profile", profile}, true);
    // Said once its signal handling is in place (on a software renderer, as here); then it is given a moment.
    panel.waitFor("anti-aliasing costs about three times", std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return panel.stop();  // SIGTERM: the panel closes the normal way and saves its layout
  };
  const std::string layout = std::string("/") + "ConfigWindows.cfg";
  EXPECT_EQ(runPanel("cub"), 0);
  ASSERT_TRUE(fs::exists(home + "/profiles/cub" + layout));
  EXPECT_FALSE(fs::exists(home + layout)) << "the data directory's own layout is not the profile's";
  // A profile's layout comes back at its next start and is saved there again; the other profile is separate.
  std::ofstream(home + "/profiles/cub/config.ini") << "[General]\nNbOfEngines=2\n";
  EXPECT_EQ(runPanel("baron"), 0);
  EXPECT_EQ(runPanel("cub"), 0);
  EXPECT_TRUE(fs::exists(home + "/profiles/baron" + layout));
  EXPECT_FALSE(fs::exists(home + "/profiles/baron/config.ini")) << "made from the files there were: none";
  const ProgramRun list = runProgram({SKYVANE_GAUGES_PATH, "--list-profiles"});
  EXPECT_EQ(list.out, "baron\ncub\n");
}

TEST_F(Front, TheFlightGearProtocolIsInstalledAndAChangedOneIsPointedOut) {
  const std::string root = home + "/fgroot";
  fs::create_directories(root);
  ::setenv("FG_ROOT", root.c_str(), 1);
  const ProgramRun install = runProgram({SKYVANE_FRONT_PATH, "flightgear", "--install-protocol"});
  EXPECT_EQ(install.status, 0) << install.err;
  std::ifstream installed(root + "/Protocol/skyvane.xml");
  const std::string text((std::istreambuf_iterator<char>(installed)), std::istreambuf_iterator<char>());
  const ProgramRun generated = runProgram({SKYVANE_FG_PROTOCOL_PATH});
  EXPECT_FALSE(text.empty());
  EXPECT_TRUE(text == generated.out) << "the protocol of the mapping in use (the built-in one here)";

  {
    ChildProcess same({SKYVANE_FRONT_PATH, "flightgear", "5597"}, true);
    ASSERT_TRUE(same.waitFor("fgfs --generic=socket,out,30,127.0.0.1,5597,udp,skyvane")) << same.text();
    EXPECT_EQ(same.text().find("not the protocol"), std::string::npos) << same.text();
  }
  std::ofstream(root + "/Protocol/skyvane.xml", std::ios::app) << "<!-- changed -->\n";
  ChildProcess changed({SKYVANE_FRONT_PATH, "flightgear", "5597"}, true);
  EXPECT_TRUE(changed.waitFor("is not the protocol of the mapping in use")) << changed.text();
}

// Runs the front command until the panel has saved its settled arrangement, then stops it the normal way (the
// panel saves its layout again); the layout saved in `dir`.
settings::WindowLayout layoutAfterARun(const std::vector<std::string>& argv, const std::string& dir) {
  ChildProcess skyvane(argv, true);
  EXPECT_TRUE(skyvane.waitFor("anti-aliasing costs about three times", std::chrono::seconds(15))) << skyvane.text();
  // The panel saves its arrangement once it has settled after the deferred step: by then the layout is applied.
  const std::string path = dir + "/" + settings::kLayoutFileName;
  for (int i = 0; i < 200 && !fs::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  skyvane.stop();
  const settings::LayoutLoad load = settings::loadWindowLayout(dir + "/" + settings::kLayoutFileName);
  EXPECT_TRUE(load.found) << skyvane.text();
  return load.layout;
}

int shownGauges(const settings::WindowLayout& layout) {
  return static_cast<int>(
      std::count_if(layout.records.begin() + 1, layout.records.end(), [](const auto& r) { return r.visible() == 1; }));
}

TEST_F(Front, AFirstStartWithAFeedOpensAnArrangedPanelWithStarterSettings) {
  const settings::WindowLayout layout =
      layoutAfterARun({SKYVANE_FRONT_PATH, "flightgear", std::to_string(freeUdpPort())}, home);
  EXPECT_EQ(shownGauges(layout), 18) << "the demo single's arrangement";
  std::ifstream written(home + "/config.ini");
  std::ifstream single(SKYVANE_SOURCE_SHARE "/demo/single.ini");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}),
            std::string(std::istreambuf_iterator<char>(single), {}));
}

TEST_F(Front, TheDemoTwinKeepsEveryWindowOnALaptopAndANetbookScreen) {
  for (const auto& [width, height] : {std::pair{1366, 768}, {1024, 600}}) {
    Desktop small;
    small.screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    ASSERT_EQ(small.start(), "");
    fs::remove_all(home + "/demo");
    const settings::WindowLayout layout =
        layoutAfterARun({SKYVANE_FRONT_PATH, "demo", "twin"}, home + "/demo/profiles/twin");
    EXPECT_EQ(shownGauges(layout), 22);
    for (std::size_t i = 0; i < layout.records.size(); ++i) {
      const settings::LayoutRecord& r = layout.records[i];
      if (i == 0 || r.visible() == 1) {
        // Saved as the window manager framed them: the control window with its title bar.
        EXPECT_GE(r.left(), 0) << width << "x" << height << " record " << i;
        EXPECT_GE(r.top(), 0) << width << "x" << height << " record " << i;
        EXPECT_LE(r.left() + r.width(), width) << width << "x" << height << " record " << i;
        EXPECT_LE(r.top() + r.height(), height) << width << "x" << height << " record " << i;
      }
    }
  }
}

}  // namespace
