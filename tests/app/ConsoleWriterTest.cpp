// The console writer over a pipe: whole lines from many threads, nothing lost or doubled, order per
// thread kept, an idle line written without a flush, failures raised, backlog bound honoured.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/ConsoleWriter.h"
#include "common/Exception.h"
#include "common/TbrzBurst.h"

namespace brz {
namespace {

using namespace std::chrono_literals;

class Pipe {
 public:
  Pipe() { EXPECT_EQ(::pipe(FFds), 0); }
  ~Pipe() {
    CloseWrite();
    if (FFds[0] >= 0) ::close(FFds[0]);
  }
  int WriteEnd() const { return FFds[1]; }
  void CloseWrite() {
    if (FFds[1] >= 0) ::close(FFds[1]);
    FFds[1] = -1;
  }
  void CloseRead() {
    if (FFds[0] >= 0) ::close(FFds[0]);
    FFds[0] = -1;
  }
  // Everything until the write end is closed.
  std::string ReadAll() {
    std::string all;
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(FFds[0], buffer, sizeof buffer);
      if (n <= 0) return all;
      all.append(buffer, static_cast<size_t>(n));
    }
  }
  // What arrives within the timeout, up to the first line end.
  std::string ReadLine(std::chrono::milliseconds aTimeout) {
    std::string line;
    char c;
    while (line.empty() || line.back() != '\n') {
      pollfd p{FFds[0], POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(aTimeout.count())) <= 0) break;
      if (::read(FFds[0], &c, 1) != 1) break;
      line.push_back(c);
    }
    return line;
  }

 private:
  int FFds[2] = {-1, -1};
};

std::vector<std::string> Lines(const std::string& aText) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = aText.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(aText.substr(start, end - start));
  EXPECT_EQ(start, aText.size()) << "text after the last line end";
  return lines;
}

TEST(ConsoleWriter, LinesOfManyThreadsStayWholeAndInOrderPerThread) {
  Pipe pipe;
  std::string all;
  std::thread reader([&] { all = pipe.ReadAll(); });
  {
    TbrzConsoleWriter writer(pipe.WriteEnd(), 4096);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&writer, t] {
        // Lines of different lengths, so a torn line could not pass as another one.
        for (int i = 0; i < 2000; ++i)
          writer.WriteLine("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                           std::string(static_cast<size_t>(i % 97), 'x'));
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(writer.Flush(10s));
  }
  pipe.CloseWrite();
  reader.join();
  std::map<int, int> next;
  for (const std::string& line : Lines(all)) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &i), 2) << line;
    ASSERT_EQ(line, "thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                        std::string(static_cast<size_t>(i % 97), 'x'));
    ASSERT_EQ(i, next[t]) << "thread " << t;
    next[t] = i + 1;
  }
  for (int t = 0; t < 4; ++t) EXPECT_EQ(next[t], 2000) << "thread " << t;
}

TEST(ConsoleWriter, AnIdleLineAppearsWithoutAFlush) {
  Pipe pipe;
  TbrzConsoleWriter writer(pipe.WriteEnd());
  writer.WriteLine(R"({"event": "connect"})");
  EXPECT_EQ(pipe.ReadLine(10s), "{\"event\": \"connect\"}\n");
  writer.WriteLine("second");
  EXPECT_EQ(pipe.ReadLine(10s), "second\n");
}

TEST(ConsoleWriter, FlushReturnsWithEverythingWritten) {
  Pipe pipe;
  TbrzConsoleWriter writer(pipe.WriteEnd());
  for (int i = 0; i < 100; ++i) writer.WriteLine(std::to_string(i));
  EXPECT_TRUE(writer.Flush(10s));
  // Nothing may still be on its way: the bytes are in the pipe already.
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += std::to_string(i) + "\n";
  std::string got;
  while (got.size() < expected.size()) {
    std::string line = pipe.ReadLine(0ms);
    if (line.empty()) break;
    got += line;
  }
  EXPECT_EQ(got, expected);
}

// Inside a burst a thread's lines wait for its end (or for HandOnNow, or a flush) and then go out
// together, in order; other threads' lines are not held by it.
TEST(ConsoleWriter, ABurstsLinesGoOutTogetherWhenItEnds) {
  Pipe pipe;
  TbrzConsoleWriter writer(pipe.WriteEnd());
  {
    TbrzBurst burst;
    writer.WriteLine("a");
    writer.WriteLine("b");
    EXPECT_EQ(pipe.ReadLine(50ms), "");
    std::thread([&] { writer.WriteLine("other thread"); }).join();
    EXPECT_EQ(pipe.ReadLine(10s), "other thread\n");
    {
      TbrzBurst inner;
      writer.WriteLine("c");
    }
    EXPECT_EQ(pipe.ReadLine(50ms), "");  // only the outermost end hands on
  }
  // Written by the ending thread itself: in the pipe already.
  EXPECT_EQ(pipe.ReadLine(0ms), "a\n");
  EXPECT_EQ(pipe.ReadLine(0ms), "b\n");
  EXPECT_EQ(pipe.ReadLine(0ms), "c\n");

  TbrzBurst burst;
  writer.WriteLine("before a wait");
  TbrzBurst::HandOnNow();
  EXPECT_EQ(pipe.ReadLine(0ms), "before a wait\n");
  writer.WriteLine("flushed");
  EXPECT_TRUE(writer.Flush(10s));
  EXPECT_EQ(pipe.ReadLine(0ms), "flushed\n");
}

TEST(ConsoleWriter, ALongBurstHandsItsLinesOnEarly) {
  Pipe pipe;
  TbrzConsoleWriter writer(pipe.WriteEnd());
  const std::string line(1000, 'x');
  const size_t count = 2 * TbrzConsoleWriter::kBurstHandOff / line.size();
  std::string expected;
  {
    TbrzBurst burst;
    for (size_t i = 0; i < count; ++i) {
      writer.WriteLine(std::to_string(i) + line);
      expected += std::to_string(i) + line + "\n";
    }
    EXPECT_EQ(pipe.ReadLine(10s), "0" + line + "\n");  // out before the burst ended
  }
  std::string rest;
  std::thread reader([&] { rest = pipe.ReadAll(); });
  EXPECT_TRUE(writer.Flush(10s));
  pipe.CloseWrite();
  reader.join();
  EXPECT_EQ("0" + line + "\n" + rest, expected);
}

TEST(ConsoleWriter, DestructionWritesWhatIsPending) {
  Pipe pipe;
  std::string all;
  std::thread reader([&] { all = pipe.ReadAll(); });
  {
    TbrzConsoleWriter writer(pipe.WriteEnd());
    for (int i = 0; i < 1000; ++i) writer.WriteLine("line " + std::to_string(i));
  }
  pipe.CloseWrite();
  reader.join();
  const auto lines = Lines(all);
  ASSERT_EQ(lines.size(), 1000u);
  EXPECT_EQ(lines.front(), "line 0");
  EXPECT_EQ(lines.back(), "line 999");
}

TEST(ConsoleWriter, AProducerWaitsForTheBacklogAndLosesNothing) {
  Pipe pipe;
  std::string all;
  {
    // A backlog of one byte: every line waits until the one before was taken.
    TbrzConsoleWriter writer(pipe.WriteEnd(), 1);
    std::thread producer([&] {
      for (int i = 0; i < 10000; ++i) writer.WriteLine("line " + std::to_string(i));
    });
    // The pipe is read only after a while, so the producer meets a full pipe and a full backlog.
    std::this_thread::sleep_for(50ms);
    std::thread reader([&] {
      for (int i = 0; i < 10000; ++i) all += pipe.ReadLine(10s);
    });
    producer.join();
    reader.join();
  }
  std::string expected;
  for (int i = 0; i < 10000; ++i) expected += "line " + std::to_string(i) + "\n";
  EXPECT_EQ(all, expected);
}

TEST(ConsoleWriter, AFailedWriteRaisesEInOutErrorFromThenOn) {
  const int readOnly = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(readOnly, 0);
  {
    TbrzConsoleWriter writer(readOnly);
    writer.WriteLine("lost");
    try {
      writer.Flush(10s);
      FAIL() << "no error";
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()), "I/O error " + std::to_string(EBADF) + ": " + std::strerror(EBADF));
    }
    EXPECT_THROW(writer.WriteLine("later"), EInOutError);
  }
  ::close(readOnly);
}

TEST(ConsoleWriter, AReaderThatWentAwayIsReportedOnceToTheFailureHandler) {
  // The program ignores SIGPIPE too: the failure must come back as EPIPE.
  struct sigaction ignore {}, saved {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &saved);
  {
    Pipe pipe;
    std::atomic<int> calls{0};
    std::atomic<int> error{0};
    TbrzConsoleWriter writer(pipe.WriteEnd());
    writer.SetOnFailure([&](int aError) {
      error = aError;
      ++calls;
    });
    writer.WriteLine("read");
    EXPECT_EQ(pipe.ReadLine(10s), "read\n");
    pipe.CloseRead();
    // Not waited for by the writing thread: the writer thread finds the failure on its own.
    writer.WriteLine("nobody reads this");
    for (int i = 0; i < 1000 && calls.load() == 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(error.load(), EPIPE);
    EXPECT_THROW(writer.WriteLine("later"), EInOutError);
    EXPECT_EQ(calls.load(), 1);
  }
  ::sigaction(SIGPIPE, &saved, nullptr);
}

TEST(ConsoleWriter, LinesAfterSealAreDropped) {
  Pipe pipe;
  std::string all;
  {
    TbrzConsoleWriter writer(pipe.WriteEnd());
    writer.WriteLine("said");
    writer.Seal();
    writer.WriteLine("not news");
    EXPECT_TRUE(writer.Flush(10s));
  }
  pipe.CloseWrite();
  EXPECT_EQ(pipe.ReadAll(), "said\n");
}

}  // namespace
}  // namespace brz
