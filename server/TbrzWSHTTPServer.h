#pragma once
// The HTTP-capable server: decides what a new connection speaks from its first bytes (WebSocket
// upgrade, plain HTTP, browser fall-backs, anything else) and acts on it. TbrzWebSocketHTTPServer is
// the component the remote-control intake uses.

#include <optional>
#include <string>

#include "server/TbrzOperatorGate.h"
#include "server/TbrzWSServer.h"

namespace brz {

enum class TwsServerType : uint8_t { wsTCP, wsHTTP };

class TbrzWSHTTPServer : public TbrzWSServer_Socket_Base {
 public:
  TwsServerType FServerType = TwsServerType::wsHTTP;

  // Before activation. With a gate, WebSocket upgrades it refuses get 401 or 403 and are closed.
  void SetOperatorGate(const TbrzOperatorGate& gate) { FGate = gate; }
  const std::optional<TbrzOperatorGate>& OperatorGate() const { return FGate; }
  // Before activation. A non-empty page is served as text/html on GET / (and /index.html).
  void SetHomePage(std::string html) { FHomePage = std::move(html); }

 protected:
  void Classify(TbrzServerContext& ctx, const TbrzWSConnectionServerPtr& c) override;

 private:
  // Answers a plain HTTP request; the server serves no documents.
  void AnswerHTTP(const TbrzWSConnectionServerPtr& c, const std::vector<std::string>& lines);
  // Writes the gate's refusal, reports it and closes.
  void RefuseUpgrade(TbrzServerContext& ctx, const TbrzWSConnectionServerPtr& c, const std::vector<std::string>& lines,
                     TbrzOperatorGate::TVerdict verdict);

  std::optional<TbrzOperatorGate> FGate;
  std::string FHomePage;
};

class TbrzWebSocketHTTPServer : public TbrzWSHTTPServer {
 public:
  TbrzWebSocketHTTPServer() = default;
  // Threads stop before anything of the server goes.
  ~TbrzWebSocketHTTPServer() override { Shutdown(); }
};

}  // namespace brz
