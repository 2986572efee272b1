#pragma once
// Waits of scripts for event lines: a wait counts the printed event lines named Event whose
// "params" hold every member of Match with the same value, until Count lines were seen or the
// time-out passed. Every printed line is offered to the waits registered at that moment.
//
// Thread-safety: Offer and Notify may run on any thread; one thread blocks in Block.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace brz {

class TbrzEventWait {
 public:
  // One member of the match: the name, whether its value is a string, and its text (unescaped
  // for strings, as written for other kinds).
  struct TMatch {
    std::string Name;
    bool IsString = false;
    std::string Text;
  };

  // aTimeout zero or negative waits without limit.
  TbrzEventWait(std::string aEvent, int aCount, std::chrono::milliseconds aTimeout, std::vector<TMatch> aMatch);

  // Counts aLine when it matches.
  void Offer(const std::string& aLine);
  // Blocks until Count lines matched (true) or the time-out passed or the wait was cancelled (false).
  bool Block();
  void Cancel();
  int Seen() const;
  int Count() const { return FCount; }

 private:
  bool Matches(const std::string& aLine) const;

  std::string FEvent;
  int FCount;
  std::chrono::milliseconds FTimeout;
  std::vector<TMatch> FMatch;
  mutable std::mutex FLock;  // guards FSeen
  std::condition_variable FChanged;
  int FSeen = 0;
  bool FCancelled = false;  // guarded by FLock
};

using TbrzEventWaitPtr = std::shared_ptr<TbrzEventWait>;

// The waits running now.
class TbrzEventWaits {
 public:
  void Add(const TbrzEventWaitPtr& aWait);
  void Remove(const TbrzEventWaitPtr& aWait);
  bool Active() const { return FActive.load() != 0; }
  // Offers a printed line to every wait; costs nothing while none runs.
  void Notify(const std::string& aLine);
  // Ends every wait running now (the program is ending).
  void CancelAll();

 private:
  std::atomic<int> FActive{0};
  std::mutex FLock;  // guards FWaits
  std::vector<TbrzEventWaitPtr> FWaits;
};

}  // namespace brz
