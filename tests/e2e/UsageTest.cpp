// --help and --version: answered before the banner, without a session.

#include <gtest/gtest.h>

#include <regex>

#include "app/Usage.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using namespace std::chrono_literals;

TEST(Usage, FirstHelpOrVersionArgumentWins) {
  struct Case {
    std::vector<const char*> Args;  // after the program name
    TbrzInfoSwitch Expected;
  };
  const Case cases[] = {
      {{}, TbrzInfoSwitch::None},
      {{"--help"}, TbrzInfoSwitch::Help},
      {{"--version"}, TbrzInfoSwitch::Version},
      {{"-server", "--version", "--help"}, TbrzInfoSwitch::Version},
      {{"-server.port", "abc", "--help"}, TbrzInfoSwitch::Help},
      // Only the exact GNU forms: the base's own switch rules stay untouched.
      {{"-help"}, TbrzInfoSwitch::None},
      {{"/help"}, TbrzInfoSwitch::None},
      {{"--HELP"}, TbrzInfoSwitch::None},
      {{"--versions"}, TbrzInfoSwitch::None},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"brzmqtt"};
    argv.insert(argv.end(), c.Args.begin(), c.Args.end());
    EXPECT_EQ(FindInfoSwitch(static_cast<int>(argv.size()), argv.data()), c.Expected)
        << (c.Args.empty() ? "(none)" : c.Args[0]);
  }
  const char* programOnly[] = {"--help"};
  EXPECT_EQ(FindInfoSwitch(1, programOnly), TbrzInfoSwitch::None) << "argv[0] is the program";
}

TEST(Usage, VersionLineNamesTheLibraries) {
  EXPECT_TRUE(std::regex_match(VersionLine(),
                               std::regex(R"(brzmqtt 2023\.1\.0 \(OpenSSL [0-9]+\.[0-9]+\.[0-9]+\S*, zlib [0-9.]+\))")))
      << VersionLine();
}

TEST(Usage, ProgramAnswersAndEndsWithoutBannerOrSession) {
  const int port = test::FreeTcpPort();
  struct Case {
    std::vector<std::string> Args;
    std::string Expected;
  };
  const Case cases[] = {
      {{"--version"}, VersionLine() + "\n"},
      // A bad port would end a session with a conversion error; no session starts at all.
      {{"-server", "-server.port", "abc", "--version"}, VersionLine() + "\n"},
      {{"-server", "-server.ip", "127.0.0.1", "-server.port", std::to_string(port), "--help"}, UsageText()},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv{test::BrzmqttPath()};
    argv.insert(argv.end(), c.Args.begin(), c.Args.end());
    test::Process p(argv);  // standard input stays open: only a session would read it
    EXPECT_EQ(p.ReadAll(10s), c.Expected) << c.Args.back();
    EXPECT_EQ(p.Wait(10s), 0);
    EXPECT_EQ(p.ReadStderr(), "");
  }
  EXPECT_FALSE(test::WaitForListening("127.0.0.1", port, 200ms));
}

TEST(Usage, HelpNamesEverySwitch) {
  const std::string help = UsageText();
  for (const char* name : {"-server ", "-server.ip", "-server.port", "-server.token", "-server.origin", "-server.cert",
                           "-server.key", "-json", "-details", "-timestamps", "-errors", "-drain", "--help",
                           "--version"})
    EXPECT_NE(help.find(std::string("  ") + name), std::string::npos) << name;
}

}  // namespace
}  // namespace brz
