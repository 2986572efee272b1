// What a new operator connection sends first, through the server's classifier (WebSocket upgrade,
// Hixie-76, plain HTTP, browser fall-backs, raw TCP), the handshake it leads to and the reading of
// what follows. The classifier works on a socket-bound context, so each input goes through one end of
// a socketpair (written whole, then shut) to a minimal subclass that exposes Classify.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>

#include "server/TbrzWSConnectionServer.h"
#include "server/TbrzWSHTTPServer.h"
#include "transport/TbrzIOHandler.h"
#include "transport/TbrzSocket.h"

namespace {

class Classifier : public brz::TbrzWSHTTPServer {
 public:
  Classifier() {
    // As the remote-control intake does: anything that is not HTTP is a raw TCP operator.
    OnUnknownProtocol = [](const brz::TbrzConnectionPtr& C, bool& Accept) {
      Accept = true;
      if (C) C->SetTransport(brz::TwsTransport::trpTCP);
    };
  }
  using brz::TbrzWSHTTPServer::Classify;
};

// Reads and drops what the program answered, so that its writes never block.
void Drain(int fd) {
  char buffer[65536];
  while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The whole input must fit the pair's buffer.
  if (size > 32 * 1024) return 0;
  static Classifier server;
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  int buffer = 256 * 1024;
  ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  if (size > 0 && ::send(pair[1], data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
    ::close(pair[0]);
    ::close(pair[1]);
    return 0;
  }
  ::shutdown(pair[1], SHUT_WR);

  brz::TbrzServerContext ctx;
  ctx.Socket = std::make_shared<brz::TbrzSocket>();
  ctx.IOHandler = std::make_shared<brz::TbrzReplayIOHandler>(std::make_shared<brz::TbrzIOHandlerSocket>());
  ctx.Socket->SetIOHandler(ctx.IOHandler);
  ctx.Fd = pair[0];
  auto connection = std::make_shared<brz::TbrzWSConnectionServer>();
  try {
    ctx.Socket->Attach(pair[0]);
    ctx.Socket->SetSendTimeout(100);
    connection->AttachSocket(ctx.Socket);
    connection->SetProtocol("mqtt");
    connection->SetReadTimeOut(1);
    ctx.Connection = connection;
    // The steps of a context thread: classify until the connection is enabled or let go, then read.
    for (int step = 0; step < 8 && ctx.Connection && !connection->Disconnected(); ++step) {
      if (ctx.Socket->BufferedCount() == 0 && !ctx.Socket->WaitForData(1)) break;
      if (connection->Enabled()) {
        connection->ReadData();
      } else {
        server.Classify(ctx, connection);
      }
      Drain(pair[1]);
    }
  } catch (const std::exception&) {
    // Refused requests, protocol violations and the peer's end surface as exceptions here.
  }
  ctx.Socket->CloseSocket();
  ::close(pair[1]);
  return 0;
}
