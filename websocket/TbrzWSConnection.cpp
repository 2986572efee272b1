#include "websocket/TbrzWSConnection.h"

#include "transport/TbrzWSException.h"
#include "websocket/WebSocketMessages.h"

namespace brz {

TbrzWSConnection::TbrzWSConnection() { SetTCPEndOfFrameScanBuffer(TtcpEOFScanBuffer::eofScanNone); }

std::string TbrzWSConnectionClient::Host() const {
  std::lock_guard<std::mutex> guard(FEndpointLock);
  return FHost;
}

int TbrzWSConnectionClient::Port() const {
  std::lock_guard<std::mutex> guard(FEndpointLock);
  return FPort;
}

void TbrzWSConnectionClient::SetEndpoint(const std::string& host, int port) {
  std::lock_guard<std::mutex> guard(FEndpointLock);
  FHost = host;
  FPort = port;
}

void TbrzWSConnectionClient::Enable() {
  SetEnabled(true);
  if (OnEnabled) OnEnabled(Self());
}

void TbrzWSConnectionClient::SendHandshakeRequest() { throw TbrzWSException(msg::kHandshakeNotAvailable); }

void TbrzWSConnectionClient::BeforeDisconnect() {
  if (OnBeforeDisconnect) OnBeforeDisconnect(Self());
}

}  // namespace brz
