// The programs' command lines as a user meets them: --help and --version exit 0 on standard output, and every
// refused argument exits 2 with one line on standard error that names the option and points to --help.
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Refusal {
  std::vector<std::string> argv;
  std::string named;  // what the error line must name
};

void PrintTo(const Refusal& r, std::ostream* os) {
  for (const std::string& a : r.argv) {
    *os << a.substr(a.find_last_of('/') + 1) << ' ';
  }
}

class CommandLines : public ::testing::TestWithParam<Refusal> {};

TEST_P(CommandLines, RefusedArgumentsNameTheOption) {
  const ProgramRun run = runProgram(GetParam().argv);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_NE(run.err.find(GetParam().named), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("(see --help)\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Programs, CommandLines,
    ::testing::Values(Refusal{{SKYVANE_SIM_PATH, "--speed", "fast"}, "--speed"},
                      Refusal{{SKYVANE_SIM_PATH, "--seed", "-1"}, "--seed"},
                      Refusal{{SKYVANE_SIM_PATH, "--class", "OTHER"}, "--class"},
                      Refusal{{SKYVANE_SIM_PATH, "--set", "nosuch=1"}, "--set"},
                      Refusal{{SKYVANE_SIM_PATH, "--set", "eng1.oilTemp=-405"}, "beyond what eng1.oilTemp can hold"},
                      Refusal{{SKYVANE_SIM_PATH, "--poke", "0x10:u9=1"}, "--poke"},
                      Refusal{{SKYVANE_SIM_PATH, "--poke", "0x10000:u8=1"}, "--poke"},
                      Refusal{{SKYVANE_SIM_PATH, "--poke", "65535:f64=1"}, "--poke"},
                      Refusal{{SKYVANE_SIM_PATH, "--feed"}, "--feed"},
                      Refusal{{SKYVANE_SIM_PATH, "--frobnicate"}, "--frobnicate"},
                      Refusal{{SKYVANE_RENDER_PATH, "--gauge", "TForm2"}, "-o"},
                      Refusal{{SKYVANE_RENDER_PATH, "--gauge", "TForm2", "-o", "x.png", "--size", "9"}, "--size"},
                      // Smaller pictures show no dial: the near plane passes it.
                      Refusal{{SKYVANE_RENDER_PATH, "--gauge", "TForm2", "-o", "x.png", "--size", "37"}, "--size"},
                      Refusal{{SKYVANE_RENDER_PATH, "--gauge", "all", "-o", ""}, "-o"},
                      Refusal{{SKYVANE_RENDER_PATH, "--gauge", "TForm2", "-o", "x.png", "--aa", "8x"}, "--aa"},
                      Refusal{{SKYVANE_RENDER_PATH, "--gauge", "TForm2", "-o", "x.png", "--turn", "1.5"}, "--turn"},
                      Refusal{{SKYVANE_RENDER_PATH, "--gauge", "TForm99", "-o", "x.png"}, "--gauge"},
                      Refusal{{SKYVANE_FG_PROTOCOL_PATH, "-o"}, "-o"},
                      Refusal{{SKYVANE_WEB_PATH, "--listen", "127.0.0.1:99999"}, "--listen"},
                      Refusal{{SKYVANE_WEB_PATH, "--listen", "nowhere:80"}, "--listen"},
                      Refusal{{SKYVANE_WEB_PATH, "--max-clients", "0"}, "--max-clients"},
                      Refusal{{SKYVANE_WEB_PATH, "--fps", "1000"}, "--fps"},
                      Refusal{{SKYVANE_WEB_PATH, "--aa", "8x"}, "--aa"},
                      Refusal{{SKYVANE_GAUGES_PATH, "--frobnicate"}, "frobnicate"},
                      Refusal{{SKYVANE_GAUGES_PATH, "--check-config", "--check-link"}, "--check-link"}));

TEST(CommandLines, HelpAndVersionGoToStandardOutput) {
  for (const char* program :
       {SKYVANE_SIM_PATH, SKYVANE_RENDER_PATH, SKYVANE_FG_PROTOCOL_PATH, SKYVANE_GAUGES_PATH, SKYVANE_WEB_PATH}) {
    const ProgramRun help = runProgram({program, "--help"});
    EXPECT_EQ(help.status, 0) << program;
    EXPECT_NE(help.out.find("Usage: "), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--version"), std::string::npos) << program;
    EXPECT_TRUE(help.err.empty()) << help.err;
    const ProgramRun version = runProgram({program, "--version"});
    EXPECT_EQ(version.status, 0) << program;
    const std::string name = std::string(program).substr(std::string(program).find_last_of('/') + 1);
    EXPECT_EQ(version.out.rfind(name + " ", 0), 0u) << version.out;
  }
}

// A protocol written to a standard output that takes nothing (a full disk) is a failure, not an empty file and
// success.
TEST(CommandLines, AProtocolThatCannotBeWrittenIsAnError) {
  const ProgramRun full =
      runProgram({"/bin/sh", "-c", std::string("exec ") + SKYVANE_FG_PROTOCOL_PATH + " >/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("cannot write the protocol to the standard output"), std::string::npos) << full.err;
}

}  // namespace
