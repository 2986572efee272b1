#pragma once
// WebSocket connection classes. TbrzWSConnection carries the WebSocket state and fills the framing
// hooks of the TCP connection; TbrzWSConnection_Socket is the socket-bound form; the client
// connection adds what the client component copies in at connect time and the hooks it listens on.

#include <functional>
#include <memory>
#include <string>

#include "transport/TbrzSocketConnection.h"
#include "websocket/TbrzWSClientOptions.h"

namespace brz {

class TbrzWSConnection : public TbrzTCPConnection {
 public:
  TbrzWSConnection();
  bool Masked() const { return FMasked.load(); }
  void SetMasked(bool value) { FMasked = value; }
  bool ValidateUTF8() const { return FValidateUTF8.load(); }
  void SetValidateUTF8(bool value) { FValidateUTF8 = value; }
  TwsFragmentedMessages FragmentedMessages() const { return FFragmentedMessages.load(); }
  void SetFragmentedMessages(TwsFragmentedMessages value) { FFragmentedMessages = value; }

 protected:
  std::atomic<bool> FMasked{false};
  std::atomic<bool> FValidateUTF8{false};
  std::atomic<TwsFragmentedMessages> FFragmentedMessages{TwsFragmentedMessages::frgOnlyBuffer};
};

class TbrzWSConnection_Socket : public TbrzWSConnection {};

class TbrzWSConnectionClient : public TbrzWSConnection_Socket {
 public:
  std::string Host() const;
  int Port() const;
  void SetEndpoint(const std::string& host, int port);
  const TbrzWSOptionsClient& Options() const { return FOptions; }
  void SetOptions(const TbrzWSOptionsClient& value) { FOptions.Assign(value); }

  // Handshake completed (raw TCP: at once).
  std::function<void(const TbrzConnectionPtr&)> OnEnabled;
  // Runs once from the disconnect path, before any close frame.
  std::function<void(const TbrzConnectionPtr&)> OnBeforeDisconnect;
  // The server redirected the handshake to aLocation.
  std::function<void(const TbrzConnectionPtr&, const std::string& aLocation)> OnRedirect;

  // Marks the connection enabled and raises OnEnabled.
  void Enable();
  // Writes the opening handshake request of a WebSocket transport. The handshake layer overrides
  // it; without one the connection cannot speak WebSocket.
  virtual void SendHandshakeRequest();

 protected:
  void BeforeDisconnect() override;

 private:
  mutable std::mutex FEndpointLock;  // guards FHost and FPort
  std::string FHost;
  int FPort = 0;
  TbrzWSOptionsClient FOptions;
};

}  // namespace brz
