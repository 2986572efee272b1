#pragma once
// The one writer of standard output. Callers append whole lines under one lock, so lines from
// different threads never interleave; a writer thread of its own hands everything pending to one
// write call, with no lock held while the call blocks. A line appears at once when the console was
// idle, and a burst of lines costs few system calls. Pending bytes are bounded: a producer waits
// while the console is that far behind, so a stalled reader slows the program instead of growing it.
// A failing write raises EInOutError, from the next WriteLine or Flush of any thread.
// Inside a burst (TbrzBurst: a read thread handling one read) a thread's lines are collected and
// handed on together when the burst ends; when the console is idle and can take them at once, the
// thread writes them itself, sparing the writer thread a wake-up per read.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace brz {

class TbrzConsoleWriter {
 public:
  explicit TbrzConsoleWriter(int fd = 1, size_t aMaxPending = kDefaultMaxPending);
  // Writes what is pending, then stops the writer thread.
  ~TbrzConsoleWriter();
  TbrzConsoleWriter(const TbrzConsoleWriter&) = delete;
  TbrzConsoleWriter& operator=(const TbrzConsoleWriter&) = delete;

  // Queues Text followed by a line end.
  void WriteLine(std::string_view Text);
  // Waits until every line queued so far has been written: true then, false when aTimeout passed
  // first (a reader that stopped reading must not hold the process). Raises the write failure.
  bool Flush(std::chrono::milliseconds aTimeout);
  // Called once, on the thread that saw it, when a write fails (the reader went away: EPIPE); set
  // before the first line. The failure is raised to writers as well.
  void SetOnFailure(std::function<void(int aError)> aHandler);
  // Lines written from now on are dropped: the program has said all it will say.
  void Seal();
  // The process-wide writer on file descriptor 1.
  static TbrzConsoleWriter& Instance();

  static constexpr size_t kDefaultMaxPending = 1 << 20;
  // A burst hands its lines on early once they reach this size.
  static constexpr size_t kBurstHandOff = 64 * 1024;

 private:
  void Run();
  void ThrowFailure() const;  // FLock held
  // Records the first failure; runs the failure handler outside the lock. Releases lock.
  void Fail(std::unique_lock<std::mutex>& lock, int aError);
  // Queues Lines (whole lines, or one without its line end) for the writer thread; waits while
  // the backlog is full. Releases lock.
  void Enqueue(std::unique_lock<std::mutex>& lock, std::string_view Lines, bool aLineEnd);
  // Hands the lines a burst collected on: written directly when that cannot block, else queued.
  void HandOff(std::string& Lines);
  static void EndBurst();

  int FFd;
  size_t FMaxPending;
  std::mutex FLock;                  // guards the fields below
  std::condition_variable FWork;     // lines pending, or stopping
  std::condition_variable FWritten;  // a write call finished
  std::string FPending;              // whole lines not yet handed to write
  bool FWriting = false;             // a thread is inside write with bytes no longer in FPending
  bool FStopping = false;
  bool FSealed = false;
  std::function<void(int)> FOnFailure;
  int FError = 0;                    // errno of the first failed write; sticky
  std::thread FThread;               // started last in the constructor
};

// Shorthand for TbrzConsoleWriter::Instance().WriteLine; with JSON-only output on, a line that is
// no JSON object goes to standard error instead.
void ConsoleWriteLine(std::string_view Text);
// JSON-only output (-json): standard output carries event lines only.
void SetConsoleJSONOnly(bool aOn);
// Shorthand for TbrzConsoleWriter::Instance().Flush.
bool ConsoleFlush(std::chrono::milliseconds aTimeout);

// One whole line on standard error (people's diagnostics); lines of different threads never
// interleave. Failures are ignored: diagnostics must not end the program.
void ErrorWriteLine(std::string_view Text);

}  // namespace brz
