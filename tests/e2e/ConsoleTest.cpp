// The built program driven through pipes.

#include <gtest/gtest.h>

#include "app/AppMessages.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using test::BrzmqttPath;
using test::Process;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Banner() { return {std::begin(kBanner), std::end(kBanner)}; }

// Runs the program with the given input, closes stdin, and returns its output lines and status.
std::pair<std::vector<std::string>, int> RunWith(const std::string& input, std::vector<std::string> args = {}) {
  std::vector<std::string> argv{BrzmqttPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  Process p(argv);
  p.Write(input);
  p.CloseStdin();
  std::string out = p.ReadAll(std::chrono::seconds(20));
  return {Lines(out), p.Wait(std::chrono::seconds(20))};
}

TEST(Console, BannerThenEndOfInputEndsWithStatusZero) {
  auto [lines, status] = RunWith("");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(lines, Banner());
  EXPECT_EQ(lines[0], "written by Corvane.");
  EXPECT_EQ(lines[1], "version 2023.1.0");
  EXPECT_EQ(lines[3].rfind("   Email : ", 0), 0u);
  EXPECT_EQ(lines[4].rfind("   Web : ", 0), 0u);
}

TEST(Console, HelpInAnyCasePrintsTheUsageText) {
  std::vector<std::string> usage;
  usage.insert(usage.end(), std::begin(kHelpBase), std::end(kHelpBase));
  usage.insert(usage.end(), std::begin(kHelpWSClient), std::end(kHelpWSClient));
  usage.insert(usage.end(), std::begin(kHelpMQTT), std::end(kHelpMQTT));
  ASSERT_EQ(usage.size(), 34u);
  EXPECT_EQ(usage[0], "***TCP Server***");
  EXPECT_EQ(usage[7], "***brzWebSocketClient usage***");
  EXPECT_EQ(usage[18], "[enable watchdog every 10 seconds} {\"message\":\"watchdog\", \"params\":{\"watchdog\":"
                       "{\"enabled\": true, \"interval\": 10}}}");
  EXPECT_EQ(usage[33], "[enable heartbeat every 30 seconds] {\"message\":\"heartbeat\", \"protocol\":\"mqtt\", "
                       "\"params\":{\"enabled\": true, \"interval\": 30}}");
  for (const char* keyword : {"help", "Help", "HELP"}) {
    auto [lines, status] = RunWith(std::string(keyword) + "\n");
    EXPECT_EQ(status, 0);
    std::vector<std::string> expected = Banner();
    expected.insert(expected.end(), usage.begin(), usage.end());
    EXPECT_EQ(lines, expected) << keyword;
  }
}

TEST(Console, ExitEndsAtOnceAndOnlyOnTheWholeLine) {
  for (const char* input : {"exit\nhelp\n", "Exit\r\nhelp\n", "EXIT\nhelp\n"}) {
    auto [lines, status] = RunWith(input);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(lines, Banner()) << input;
  }
  // Leading blanks, suffixes, blank and malformed lines are commands that print nothing.
  auto [lines, status] = RunWith(" EXIT\nEXIT;\n\n{\nnot json\n{\"message\":\"nothing\"}\n[1,2]\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(lines, Banner());
}

TEST(Console, ExitWhileInputStaysOpen) {
  Process p({BrzmqttPath()});
  p.WriteLine("exit");
  EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0);
}

TEST(Console, BadServerPortPrintsTheConversionErrorAndEnds) {
  Process p({BrzmqttPath(), "-server", "-server.port", "abc"});
  std::string out = p.ReadAll(std::chrono::seconds(10));
  EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 1);  // a failure
  std::vector<std::string> expected = Banner();
  expected.push_back("EConvertError: 'abc' is not a valid integer value");
  EXPECT_EQ(Lines(out), expected);
}

TEST(Console, PortSwitchWithoutServerIsIgnored) {
  auto [lines, status] = RunWith("", {"-server.port", "abc"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(lines, Banner());
}

}  // namespace
}  // namespace brz
