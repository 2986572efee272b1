// Many operators at once: every broadcast line reaches every one of them in order, and the memory
// of the server comes back once they have left.

#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>

#include <fstream>
#include <iostream>

#include <gtest/gtest.h>

#include "tests/server/ServerTestSupport.h"

namespace brz {
namespace {

using test::RawPeer;
using test::RecordingServer;

constexpr int kOperators = 200;
constexpr int kLines = 1000;

long ResidentKiB() {
  ::malloc_trim(0);
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

TEST(ServerLoad, TwoHundredOperatorsReceiveEveryLineInOrderAndMemoryReturns) {
  RecordingServer server(true, false);
  server.Server().Optimizations().ConnectionsFree.Interval = 1;
  server.Start();
  const long idle = ResidentKiB();

  std::vector<std::unique_ptr<RawPeer>> peers;
  for (int i = 0; i < kOperators; ++i) {
    peers.push_back(std::make_unique<RawPeer>(server.Port()));
    peers.back()->Send("hi\n");
  }
  ASSERT_TRUE(server.WaitFor([&] { return server.Connects() == kOperators; }, std::chrono::seconds(30)));

  std::string expected;
  for (int n = 0; n < kLines; ++n) expected += "line " + std::to_string(n) + "\n";
  std::vector<std::string> got(kOperators);
  std::thread reader([&] {
    std::vector<pollfd> fds(kOperators);
    for (int i = 0; i < kOperators; ++i) fds[static_cast<size_t>(i)] = {peers[static_cast<size_t>(i)]->Fd(), POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t complete = 0;
    char buffer[65536];
    while (complete < kOperators && std::chrono::steady_clock::now() < deadline) {
      if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
      for (size_t i = 0; i < fds.size(); ++i) {
        if (!(fds[i].revents & POLLIN)) continue;
        ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
          fds[i].fd = -1;
          continue;
        }
        got[i].append(buffer, static_cast<size_t>(n));
        if (got[i].size() >= expected.size()) {
          fds[i].fd = -1;
          ++complete;
        }
      }
    }
  });
  for (int n = 0; n < kLines; ++n) server.Server().Broadcast("line " + std::to_string(n) + "\n");
  reader.join();
  const long busy = ResidentKiB();
  for (int i = 0; i < kOperators; ++i) ASSERT_EQ(got[static_cast<size_t>(i)], expected) << "operator " << i;

  peers.clear();
  ASSERT_TRUE(server.WaitFor([&] { return server.Disconnects() == kOperators && server.Server().Count() == 0; },
                             std::chrono::seconds(30)));
  ASSERT_TRUE(server.WaitFor([&] { return server.Server().ReleaseListCount() == 0; }, std::chrono::seconds(10)));
  const long after = ResidentKiB();
  std::cout << "RSS KiB idle " << idle << ", with " << kOperators << " operators " << busy << ", after " << after
            << std::endl;
  RecordProperty("rss_idle_kib", static_cast<int>(idle));
  RecordProperty("rss_busy_kib", static_cast<int>(busy));
  RecordProperty("rss_after_kib", static_cast<int>(after));
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
  // Loose: thread arenas keep some memory; what matters is that nothing per operator stays. (A
  // sanitizer's own allocator and shadow memory make the figure meaningless.)
  EXPECT_LT(after, idle + 32 * 1024);
#endif
  EXPECT_TRUE(server.Errors().empty());
  EXPECT_TRUE(server.Exceptions().empty());
}

}  // namespace
}  // namespace brz
