#include "app/TbrzOperatorList.h"

#include "common/Text.h"
#include "json/JSONEscape.h"
#include "json/TbrzJSON.h"

namespace brz {

namespace {

std::string StringMember(const IbrzJSON& document, const std::string& name) {
  if (!document) return {};
  IbrzObjectJSON node = document->Node(name);
  if (!node || node->JSONType() != TbrzJSONtype::brzJSONString) return {};
  return JSONUnescape(node->Value());
}

// Holds the server's connection list while the connections are copied out.
class TListGuard {
 public:
  explicit TListGuard(TbrzWSServer_Socket_Base& server) : FServer(server) { FServer.LockList(); }
  ~TListGuard() { FServer.UnLockList(); }
  TListGuard(const TListGuard&) = delete;
  TListGuard& operator=(const TListGuard&) = delete;

 private:
  TbrzWSServer_Socket_Base& FServer;
};

}  // namespace

bool IsAuthCommand(const std::string& Text, std::string* Token) {
  // Most commands are told apart without parsing.
  if (Text.find("auth") == std::string::npos) return false;
  IbrzJSON document = NewJSONDocument();
  document->Read(Text);
  if (StringMember(document, "message") != "auth") return false;
  if (Token) {
    IbrzObjectJSON params = document->Node("params");
    *Token = params && params->JSONType() == TbrzJSONtype::brzJSONObject ? StringMember(params->JSONObject(), "token")
                                                                         : std::string();
  }
  return true;
}

TbrzOperatorList::TbrzOperatorList(TbrzOperatorGate aGate, size_t aMaxCommand, TbrzOperatorOutbox::TDropEvent aOnDrop,
                                   size_t aMaxQueueBytes)
    : FGate(std::move(aGate)), FMaxCommand(aMaxCommand), FMaxQueueBytes(aMaxQueueBytes), FOnDrop(std::move(aOnDrop)) {}

TbrzOperatorList::~TbrzOperatorList() {
  std::unordered_map<std::string, std::unique_ptr<TOperator>> doomed;
  {
    std::lock_guard<std::mutex> guard(FLock);
    doomed.swap(FOperators);
  }
}

TbrzOperatorList::TOperator* TbrzOperatorList::Find(const TbrzConnectionPtr& C, bool create) {
  const std::string guid = C->GetGuid();
  auto it = FOperators.find(guid);
  if (it != FOperators.end()) return it->second.get();
  // A connection whose disconnect was handled already must not come back.
  if (!create || C->Disconnected()) return nullptr;
  auto entry = std::make_unique<TOperator>(FMaxCommand);
  entry->Connection = C;
  // WebSocket operators passed the gate before they were enabled.
  entry->Admitted = !FGate.TokenRequired() || C->Transport() != TwsTransport::trpTCP;
  return FOperators.emplace(guid, std::move(entry)).first->second.get();
}

void TbrzOperatorList::Broadcast(TbrzWSServer_Socket_Base& Server, const std::string& Text) {
  std::vector<TbrzConnectionPtr> connections;
  {
    TListGuard list(Server);
    const int count = Server.Count();
    connections.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      TbrzConnectionPtr c = Server.GetConnectionByIndex(i);
      if (c) connections.push_back(std::move(c));
    }
  }
  std::vector<std::shared_ptr<TbrzOperatorOutbox>> targets;
  targets.reserve(connections.size());
  {
    std::lock_guard<std::mutex> guard(FLock);
    for (const TbrzConnectionPtr& c : connections) {
      if (!c->Enabled() || c->Disconnected() || c->Transport() == TwsTransport::trpHTTP2) continue;
      // Event lines go to operators that asked for no sub-protocol, as the server's broadcast does.
      if (!c->Protocol().empty()) continue;
      TOperator* op = Find(c, true);
      if (!op || !op->Admitted || op->Refused) continue;
      if (!op->Outbox) op->Outbox = std::make_shared<TbrzOperatorOutbox>(c, FMaxQueueBytes, FOnDrop);
      targets.push_back(op->Outbox);
    }
  }
  for (const auto& outbox : targets) outbox->Push(Text);
}

TbrzOperatorList::TRawResult TbrzOperatorList::TakeRaw(const TbrzConnectionPtr& C, std::string_view Bytes,
                                                       std::vector<std::string>& Commands) {
  std::vector<std::string> framed;
  bool admitted, fits;
  {
    std::lock_guard<std::mutex> guard(FLock);
    TOperator* op = Find(C, true);
    // A refused operator's later bytes, or those of one already gone, run nothing.
    if (!op || op->Refused) return TRawResult::Taken;
    // Commands completed before an overlong one still run.
    fits = op->Framer.Feed(Bytes, framed);
    admitted = op->Admitted;
  }
  for (std::string& command : framed) {
    std::string token;
    const bool auth = IsAuthCommand(command, &token);
    if (!admitted) {
      if (!auth || !FGate.TokenMatches(token)) {
        std::lock_guard<std::mutex> guard(FLock);
        if (TOperator* op = Find(C, false)) op->Refused = true;
        return TRawResult::Refused;
      }
      admitted = true;
      std::lock_guard<std::mutex> guard(FLock);
      if (TOperator* op = Find(C, false)) op->Admitted = true;
      continue;
    }
    // The token never reaches the command processor, whatever the operator sends.
    if (!auth) Commands.push_back(std::move(command));
  }
  return fits ? TRawResult::Taken : TRawResult::TooLong;
}

std::string TbrzOperatorList::Remove(const TbrzConnectionPtr& C) {
  std::unique_ptr<TOperator> gone;
  {
    std::lock_guard<std::mutex> guard(FLock);
    auto it = FOperators.find(C->GetGuid());
    if (it == FOperators.end()) return {};
    gone = std::move(it->second);
    FOperators.erase(it);
  }
  std::string rest = gone->Framer.Finish();
  if (!gone->Admitted || gone->Refused || IsAuthCommand(rest)) return {};
  return rest;
}

bool TbrzOperatorList::Flush(std::chrono::milliseconds aTimeout) {
  std::vector<std::shared_ptr<TbrzOperatorOutbox>> outboxes;
  {
    std::lock_guard<std::mutex> guard(FLock);
    for (auto& [guid, op] : FOperators)
      if (op->Outbox) outboxes.push_back(op->Outbox);
  }
  const auto deadline = std::chrono::steady_clock::now() + aTimeout;
  bool all = true;
  for (const auto& outbox : outboxes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (outbox->Dropped()) continue;
    if (!outbox->Flush(std::max(left, std::chrono::milliseconds(0)))) all = false;
  }
  return all;
}

}  // namespace brz
