#pragma once
// The remote operators of the intake. For each connection: whether it is admitted (a WebSocket
// operator passed the gate at its upgrade; a raw TCP operator must first send the auth command with
// the token, when one is set), its command framing (raw TCP) and its outbound queue. Only admitted
// operators receive event lines.
//
// Thread-safety: any thread. One lock guards the map; lines are queued, writers stopped and commands
// returned outside it. TakeRaw and Remove of one connection come from its own context thread.

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/CommandFramer.h"
#include "server/TbrzOperatorGate.h"
#include "server/TbrzOperatorOutbox.h"
#include "server/TbrzWSServer.h"

namespace brz {

// Whether Text is the auth command {"message":"auth", "params":{"token":"..."}}; its token in Token.
bool IsAuthCommand(const std::string& Text, std::string* Token = nullptr);

class TbrzOperatorList {
 public:
  // Event lines an operator may have waiting before it is dropped: room for a burst to a reader that
  // lags behind, while one that stopped reading is let go by the send time-out.
  static constexpr size_t kDefaultMaxQueueBytes = 16u * 1024u * 1024u;

  TbrzOperatorList(TbrzOperatorGate aGate, size_t aMaxCommand, TbrzOperatorOutbox::TDropEvent aOnDrop,
                   size_t aMaxQueueBytes = kDefaultMaxQueueBytes);
  // Stops every writer.
  ~TbrzOperatorList();
  TbrzOperatorList(const TbrzOperatorList&) = delete;
  TbrzOperatorList& operator=(const TbrzOperatorList&) = delete;

  const TbrzOperatorGate& Gate() const { return FGate; }

  // Queues Text for every admitted operator among the server's enabled connections.
  void Broadcast(TbrzWSServer_Socket_Base& Server, const std::string& Text);

  enum class TRawResult { Taken, TooLong, Refused };
  // Bytes from a raw TCP operator: the commands they complete go to Commands, except auth commands,
  // which are consumed here. Refused: the first command was no auth with the right token; nothing
  // of this operator runs any more. TooLong: a command passed the bound.
  TRawResult TakeRaw(const TbrzConnectionPtr& C, std::string_view Bytes, std::vector<std::string>& Commands);
  // The operator has gone: its writer stops; returns what it sent unfinished (empty unless admitted).
  std::string Remove(const TbrzConnectionPtr& C);
  // Waits (bounded in all) until every queued line is written or its operator dropped.
  bool Flush(std::chrono::milliseconds aTimeout);

 private:
  struct TOperator {
    explicit TOperator(size_t maxCommand) : Framer(maxCommand) {}
    TbrzConnectionPtr Connection;
    bool Admitted = false;
    bool Refused = false;
    TbrzCommandFramer Framer;
    std::shared_ptr<TbrzOperatorOutbox> Outbox;
  };
  // The entry of C, made when missing (nullptr for a connection already gone). FLock held.
  TOperator* Find(const TbrzConnectionPtr& C, bool create);

  const TbrzOperatorGate FGate;
  const size_t FMaxCommand;
  const size_t FMaxQueueBytes;
  const TbrzOperatorOutbox::TDropEvent FOnDrop;
  std::mutex FLock;  // guards FOperators
  std::unordered_map<std::string, std::unique_ptr<TOperator>> FOperators;  // by connection GUID
};

}  // namespace brz
