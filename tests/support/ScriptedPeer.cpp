#include "tests/support/ScriptedPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace brz::test {

namespace {

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

int ListenOn(bool ipv6, int backlog, int& port) {
  int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("ScriptedPeer: socket failed");
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage addr{};
  socklen_t len;
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    len = sizeof(sockaddr_in6);
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&addr);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof(sockaddr_in);
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, backlog) != 0) {
    ::close(fd);
    throw std::runtime_error("ScriptedPeer: bind/listen failed");
  }
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port)
              : ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  return fd;
}

}  // namespace

ScriptedPeer::ScriptedPeer(bool ipv6, int backlog) : FIPv6(ipv6) { FListen = ListenOn(ipv6, backlog, FPort); }

ScriptedPeer::~ScriptedPeer() {
  CloseClient();
  StopListening();
}

std::string ScriptedPeer::Url(const std::string& scheme) const {
  return scheme + "://" + (FIPv6 ? "[::1]" : "127.0.0.1") + ":" + std::to_string(FPort);
}

bool ScriptedPeer::Accept(std::chrono::milliseconds timeout) {
  if (FListen < 0) return false;
  pollfd p{FListen, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
  int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return false;
  CloseClient();
  FClient = fd;
  FClientClosed = false;
  FReceived.clear();
  ++FAccepted;
  return true;
}

void ScriptedPeer::Send(const Bytes& bytes) {
  if (FClient < 0) throw std::runtime_error("ScriptedPeer: no client");
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(FClient, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("ScriptedPeer: send failed");
    done += static_cast<size_t>(n);
  }
}

Bytes ScriptedPeer::Receive(size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (FClient >= 0 && !FClientClosed && FReceived.size() < count) {
    pollfd p{FClient, POLLIN, 0};
    if (::poll(&p, 1, Remaining(deadline)) <= 0) break;
    uint8_t buffer[4096];
    ssize_t n = ::recv(FClient, buffer, sizeof buffer, 0);
    if (n <= 0) {
      FClientClosed = true;
      break;
    }
    FReceived.insert(FReceived.end(), buffer, buffer + n);
  }
  return FReceived;
}

Bytes ScriptedPeer::ReceiveFor(std::chrono::milliseconds window) {
  return Receive(static_cast<size_t>(-1), window);
}

bool ScriptedPeer::WaitClientClosed(std::chrono::milliseconds timeout) {
  Receive(static_cast<size_t>(-1), timeout);
  return FClientClosed;
}

void ScriptedPeer::CloseClient() {
  if (FClient >= 0) ::close(FClient);
  FClient = -1;
}

void ScriptedPeer::StopListening() {
  if (FListen >= 0) ::close(FListen);
  FListen = -1;
}

BlackHolePeer::BlackHolePeer() {
  FListen = ListenOn(false, 0, FPort);
  // Fill the accept queue (and the SYN backlog) with connections nobody accepts.
  for (int i = 0; i < 8; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(FPort));
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    FFillers.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

BlackHolePeer::~BlackHolePeer() {
  for (int fd : FFillers) ::close(fd);
  if (FListen >= 0) ::close(FListen);
}

}  // namespace brz::test
