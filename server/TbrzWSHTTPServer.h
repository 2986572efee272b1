#pragma once
// The HTTP-capable server: decides what a new connection speaks from its first bytes (WebSocket
// upgrade, plain HTTP, browser fall-backs, anything else) and acts on it. TbrzWebSocketHTTPServer is
// the component the remote-control intake uses.

#include "server/TbrzWSServer.h"

namespace brz {

enum class TwsServerType : uint8_t { wsTCP, wsHTTP };

class TbrzWSHTTPServer : public TbrzWSServer_Socket_Base {
 public:
  TwsServerType FServerType = TwsServerType::wsHTTP;

 protected:
  void Classify(TbrzServerContext& ctx, const TbrzWSConnectionServerPtr& c) override;

 private:
  // Answers a plain HTTP request; the server serves no documents.
  void AnswerHTTP(const TbrzWSConnectionServerPtr& c, const std::vector<std::string>& lines);
};

class TbrzWebSocketHTTPServer : public TbrzWSHTTPServer {
 public:
  TbrzWebSocketHTTPServer() = default;
  // Threads stop before anything of the server goes.
  ~TbrzWebSocketHTTPServer() override { Shutdown(); }
};

}  // namespace brz
