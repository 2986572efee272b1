#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/MainThread.h"

namespace brz {
namespace {

// Runs posted methods on this thread until done() or the time-out.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    WaitForMainThreadQueue(std::chrono::milliseconds(10));
    ProcessMainThreadQueue();
  }
  return true;
}

TEST(MainThread, QueuedMethodsRunInOrderOnTheMainThread) {
  SetMainThread();
  ASSERT_TRUE(IsMainThread());
  std::vector<int> seen;
  std::atomic<bool> wrongThread{false};
  const auto mainId = std::this_thread::get_id();
  std::thread poster([&] {
    EXPECT_FALSE(IsMainThread());
    for (int i = 0; i < 3; ++i)
      QueueToMainThread([&, i] {
        if (std::this_thread::get_id() != mainId) wrongThread = true;
        seen.push_back(i);
      });
  });
  poster.join();
  EXPECT_TRUE(seen.empty());  // nothing runs until the main thread drains
  EXPECT_EQ(MainThreadQueueCount(), 3u);
  EXPECT_EQ(ProcessMainThreadQueue(), 3u);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(wrongThread);
  EXPECT_EQ(ProcessMainThreadQueue(), 0u);
}

TEST(MainThread, SynchronizeWaitsForTheMainThread) {
  SetMainThread();
  std::atomic<bool> ran{false}, returned{false};
  std::thread::id ranOn;
  std::thread caller([&] {
    EXPECT_TRUE(SynchronizeWithMainThread([&] {
      ranOn = std::this_thread::get_id();
      ran = true;
    }));
    returned = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return returned.load(); }));
  caller.join();
  EXPECT_TRUE(ran);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MainThread, SynchronizeReraisesInTheCaller) {
  SetMainThread();
  std::atomic<bool> caught{false}, returned{false};
  std::thread caller([&] {
    try {
      SynchronizeWithMainThread([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = std::string(e.what()) == "boom";
    }
    returned = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return returned.load(); }));
  caller.join();
  EXPECT_TRUE(caught);
}

TEST(MainThread, SynchronizeOnTheMainThreadRunsAtOnce) {
  SetMainThread();
  bool ran = false;
  EXPECT_TRUE(SynchronizeWithMainThread([&] { ran = true; }));
  EXPECT_TRUE(ran);
  EXPECT_EQ(MainThreadQueueCount(), 0u);
}

TEST(MainThread, AbandonedSynchronizeIsWithdrawn) {
  SetMainThread();
  std::atomic<bool> stop{false}, ran{false};
  bool result = true;
  std::thread caller([&] { result = SynchronizeWithMainThread([&] { ran = true; }, [&] { return stop.load(); }); });
  while (MainThreadQueueCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stop = true;
  caller.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(MainThreadQueueCount(), 0u);
  ProcessMainThreadQueue();
  EXPECT_FALSE(ran);
}

TEST(MainThread, QueuedExceptionPropagatesAndLaterMethodsStay) {
  SetMainThread();
  int after = 0;
  QueueToMainThread([] { throw std::runtime_error("queued"); });
  QueueToMainThread([&] { ++after; });
  EXPECT_THROW(ProcessMainThreadQueue(), std::runtime_error);
  EXPECT_EQ(after, 0);
  EXPECT_EQ(ProcessMainThreadQueue(), 1u);
  EXPECT_EQ(after, 1);
}

}  // namespace
}  // namespace brz
