#include "transport/TbrzSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/TbrzBurst.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TransportMessages.h"

namespace brz {

namespace {

constexpr size_t kReadChunk = 16384;
// Upper bound of one WaitForData pull, so one fast peer cannot grow the buffer without limit.
constexpr size_t kMaxPullPerWait = 1 << 20;
// Negotiation bound when neither ReadTimeout nor ConnectTimeout is set: a silent proxy must not
// hang the connecting thread for ever.
constexpr int kDefaultNegotiationTimeout = 30000;

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

void AddressText(const sockaddr_storage& addr, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = {0};
  if (addr.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
    ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    port = ntohs(a->sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
    ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    port = ntohs(a->sin6_port);
  } else {
    port = 0;
  }
  ip = text;
}

void SetBlocking(int fd, bool blocking) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) throw SocketErrorFromErrno(errno);
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  if (::fcntl(fd, F_SETFL, flags) < 0) throw SocketErrorFromErrno(errno);
}

// Binds fd to the first free port of min..max.
void BindPortRange(int fd, int family, int min, int max) {
  if (min <= 0 && max <= 0) return;
  if (max < min) max = min;
  for (int port = min; port <= max; ++port) {
    sockaddr_storage addr{};
    socklen_t len;
    if (family == AF_INET6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
      a->sin6_family = AF_INET6;
      a->sin6_addr = in6addr_any;
      a->sin6_port = htons(static_cast<uint16_t>(port));
      len = sizeof(sockaddr_in6);
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(&addr);
      a->sin_family = AF_INET;
      a->sin_addr.s_addr = htonl(INADDR_ANY);
      a->sin_port = htons(static_cast<uint16_t>(port));
      len = sizeof(sockaddr_in);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) return;
  }
  throw ESocketError(FormatMsg(msg::kBindPortRange, min, max));
}

}  // namespace

// Blocking exchange with a proxy on the freshly connected descriptor, bounded by a deadline.
class TbrzSocket::Link : public TbrzProxyLink {
 public:
  Link(TbrzSocket& owner, int timeoutMs, const std::string& proxyHost, int proxyPort)
      : FOwner(owner), FTimeout(timeoutMs), FHost(proxyHost), FPort(proxyPort) {}

  void Send(const TBytes& bytes) override {
    int fd = FOwner.FFd.load();
    if (fd < 0) throw ESocketClosed(msg::kSocketClosed);
    size_t done = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(FTimeout);
    while (done < bytes.size()) {
      pollfd p{fd, POLLOUT, 0};
      int rc = ::poll(&p, 1, RemainingMs(deadline));
      if (rc < 0 && errno == EINTR) continue;
      if (rc < 0) throw SocketErrorFromErrno(errno);
      if (rc == 0) throw EProxyError(msg::kConnectTimeout);
      ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        throw SocketErrorFromErrno(errno);
      }
      done += static_cast<size_t>(n);
    }
  }

  TBytes Receive(size_t count) override {
    int fd = FOwner.FFd.load();
    if (fd < 0) throw ESocketClosed(msg::kSocketClosed);
    TBytes out(count);
    size_t done = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(FTimeout);
    while (done < count) {
      pollfd p{fd, POLLIN, 0};
      int rc = ::poll(&p, 1, RemainingMs(deadline));
      if (rc < 0 && errno == EINTR) continue;
      if (rc < 0) throw SocketErrorFromErrno(errno);
      if (rc == 0) throw EProxyError(msg::kConnectTimeout);
      ssize_t n = ::recv(fd, out.data() + done, count - done, MSG_DONTWAIT);
      if (n == 0) throw EProxyError(msg::kProxyClosed);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        throw SocketErrorFromErrno(errno);
      }
      done += static_cast<size_t>(n);
    }
    return out;
  }

  void Reconnect() override {
    FOwner.CloseSocket();
    FOwner.Publish(FOwner.OpenTCP(FHost, FPort));
  }

 private:
  TbrzSocket& FOwner;
  int FTimeout;
  std::string FHost;
  int FPort;
};

TbrzSocket::TbrzSocket() : FWakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TbrzSocket::~TbrzSocket() {
  CloseSocket();
  if (FWakeFd >= 0) ::close(FWakeFd);
}

void TbrzSocket::WakeWaiter() {
  if (FWakeFd < 0) return;
  const uint64_t one = 1;
  // A full counter already wakes the waiter; nothing else can fail here.
  [[maybe_unused]] ssize_t n = ::write(FWakeFd, &one, sizeof one);
}

void TbrzSocket::SetIOHandler(std::shared_ptr<TbrzIOHandler> handler) {
  std::lock_guard<std::mutex> guard(FSettingsLock);
  FIOHandler = std::move(handler);
}

std::shared_ptr<TbrzIOHandler> TbrzSocket::IOHandler() const {
  std::lock_guard<std::mutex> guard(FSettingsLock);
  return FIOHandler;
}

void TbrzSocket::SetProxy(std::unique_ptr<TbrzProxy> proxy) {
  std::lock_guard<std::mutex> guard(FSettingsLock);
  FProxy = std::move(proxy);
}

int TbrzSocket::OpenTCP(const std::string& host, int port) {
  if (host.empty()) throw ESocketError(msg::kNoHost);
  if (port <= 0 || port > 65535) throw ESocketError(FormatMsg(msg::kInvalidPort, port));
  addrinfo hints{};
  hints.ai_family = IPVersion == TwsIPVersion::ipV6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0 || list == nullptr) {
    throw EHostNotFound(FormatMsg(msg::kHostNotFound, host.c_str(), ::gai_strerror(rc)));
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(list, ::freeaddrinfo);

  const auto deadline = Clock::now() + std::chrono::milliseconds(ConnectTimeout);
  bool timedOut = false;
  int lastError = 0;
  for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    try {
      BindPortRange(fd, ai->ai_family, BoundPortMin, BoundPortMax);
      SetBlocking(fd, false);
      int c = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
      if (c != 0 && errno != EINPROGRESS) {
        lastError = errno;
        ::close(fd);
        continue;
      }
      if (c != 0) {
        pollfd p{fd, POLLOUT, 0};
        int wait;
        do {
          wait = ::poll(&p, 1, ConnectTimeout > 0 ? RemainingMs(deadline) : -1);
        } while (wait < 0 && errno == EINTR);
        if (wait == 0) {
          timedOut = true;
          ::close(fd);
          continue;
        }
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (wait < 0 || err != 0) {
          lastError = wait < 0 ? errno : err;
          ::close(fd);
          continue;
        }
      }
      SetBlocking(fd, true);
      int noDelay = UseNagle ? 0 : 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
      return fd;
    } catch (...) {
      ::close(fd);
      throw;
    }
  }
  if (timedOut && lastError == 0) throw EConnectTimeout(msg::kConnectTimeout);
  throw SocketErrorFromErrno(lastError ? lastError : ECONNREFUSED);
}

void TbrzSocket::Publish(int fd) {
  std::unique_lock<std::shared_mutex> guard(FFdLock);
  FFd = fd;
  FClosedByPeer = false;
  FStatusAnnounced = false;
}

void TbrzSocket::Negotiate() {
  std::unique_ptr<TbrzProxy> proxy;
  {
    std::lock_guard<std::mutex> guard(FSettingsLock);
    proxy = std::move(FProxy);
  }
  if (!proxy) return;
  int timeout = ReadTimeout > 0 ? ReadTimeout : ConnectTimeout > 0 ? ConnectTimeout : kDefaultNegotiationTimeout;
  Link link(*this, timeout, proxy->Options().Host, proxy->Options().Port);
  try {
    proxy->Negotiate(link, Host, Port);
  } catch (...) {
    std::lock_guard<std::mutex> guard(FSettingsLock);
    FProxy = std::move(proxy);
    throw;
  }
  std::lock_guard<std::mutex> guard(FSettingsLock);
  FProxy = std::move(proxy);
}

void TbrzSocket::Connect() {
  if (Connected()) throw ESocketError(msg::kAlreadyConnected);
  ClearBuffered();
  ClearWriteBuffer();
  std::string host = Host;
  int port = Port;
  {
    std::lock_guard<std::mutex> guard(FSettingsLock);
    if (FProxy) {
      if (FProxy->Options().Host.empty()) throw EProxyError(msg::kProxyNoHost);
      host = FProxy->Options().Host;
      port = FProxy->Options().Port;
    }
    if (!FIOHandler) FIOHandler = std::make_shared<TbrzIOHandlerSocket>();
  }
  Publish(OpenTCP(host, port));
  try {
    Negotiate();
    IOHandler()->Connect(FFd.load(), Host, ConnectTimeout);
  } catch (...) {
    CloseSocket();
    FStatusAnnounced = true;
    throw;
  }
  if (OnConnected) OnConnected();
}

void TbrzSocket::Attach(int fd) {
  {
    std::lock_guard<std::mutex> guard(FSettingsLock);
    if (!FIOHandler) FIOHandler = std::make_shared<TbrzIOHandlerSocket>();
  }
  ClearBuffered();
  Publish(fd);
  try {
    IOHandler()->Connect(fd, Host, ConnectTimeout);
  } catch (...) {
    CloseSocket();
    FStatusAnnounced = true;
    throw;
  }
}

bool TbrzSocket::Connected() const {
  if (FFd.load() < 0) return false;
  // A peer that closed still counts as connected while its last bytes wait to be read.
  return !FClosedByPeer.load() || BufferedCount() > 0;
}

size_t TbrzSocket::BufferedCount() const {
  std::lock_guard<std::mutex> guard(FInputLock);
  return FInput.size() - FInputStart;
}

bool TbrzSocket::WaitForData(int ms) {
  if (BufferedCount() > 0) return true;
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  if (FFd.load() < 0) return false;
  std::shared_ptr<TbrzIOHandler> handler = IOHandler();
  if (!handler) return false;
  // Bytes handed back to the handler (the server's classification) are still to be read after
  // the peer closed.
  if (FClosedByPeer.load() && handler->Pending() == 0) return false;
  if (handler->Pending() == 0) {
    // What this thread collected must not wait with it.
    if (TbrzBurst::Pending() && !handler->Readable(0)) TbrzBurst::HandOnNow();
    if (FWakeFd >= 0 && ms != 0) {
      // One poll on the descriptor and the wake-up: an idle connection costs no wake-ups. Every handler
      // reads from the descriptor once its own buffer is empty, so its readiness is the handler's.
      pollfd p[2] = {{FFd.load(), POLLIN, 0}, {FWakeFd, POLLIN, 0}};
      const int rc = ::poll(p, 2, ms < 0 ? -1 : ms);
      if (rc < 0 && errno != EINTR) throw SocketErrorFromErrno(errno);
      if (rc > 0 && (p[1].revents & POLLIN)) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(FWakeFd, &count, sizeof count);
      }
      if (rc <= 0 || !(p[0].revents & (POLLIN | POLLHUP | POLLERR)) || !handler->Readable(0)) return false;
    } else if (!handler->Readable(ms)) {
      return false;
    }
  }
  uint8_t chunk[kReadChunk];
  size_t total = 0;
  while (total < kMaxPullPerWait) {
    ssize_t n = handler->Read(chunk, sizeof chunk);
    if (n == 0) {
      FClosedByPeer = true;
      break;
    }
    if (n < 0) break;
    {
      std::lock_guard<std::mutex> input(FInputLock);
      FInput.insert(FInput.end(), chunk, chunk + n);
    }
    total += static_cast<size_t>(n);
  }
  return total > 0;
}

TBytes TbrzSocket::ReadBuffered(size_t count) {
  std::lock_guard<std::mutex> guard(FInputLock);
  size_t available = FInput.size() - FInputStart;
  if (count > available) count = available;
  auto first = FInput.begin() + static_cast<std::ptrdiff_t>(FInputStart);
  TBytes out(first, first + static_cast<std::ptrdiff_t>(count));
  FInputStart += count;
  if (FInputStart == FInput.size()) {
    FInput.clear();
    FInputStart = 0;
  } else if (FInputStart > kReadChunk * 4) {
    FInput.erase(FInput.begin(), FInput.begin() + static_cast<std::ptrdiff_t>(FInputStart));
    FInputStart = 0;
  }
  return out;
}

void TbrzSocket::ClearBuffered() {
  std::lock_guard<std::mutex> guard(FInputLock);
  FInput.clear();
  FInputStart = 0;
}

void TbrzSocket::BeginWriteBatch() {
  std::lock_guard<std::mutex> guard(FBatchLock);
  FBatching = true;
}

void TbrzSocket::WriteBytes(const TBytes& bytes) { WriteBytes(bytes.data(), bytes.size()); }

void TbrzSocket::WriteBytes(const uint8_t* data, size_t size) {
  {
    std::lock_guard<std::mutex> guard(FBatchLock);
    if (FBatching) {
      FBatch.insert(FBatch.end(), data, data + size);
      return;
    }
  }
  if (size == 0) return;
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  if (FFd.load() < 0) throw ESocketClosed(msg::kSocketClosed);
  IOHandler()->Write(data, size);
}

void TbrzSocket::FlushWriteBatch() {
  TBytes batch;
  {
    std::lock_guard<std::mutex> guard(FBatchLock);
    batch.swap(FBatch);
  }
  if (batch.empty()) return;
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  if (FFd.load() < 0) throw ESocketClosed(msg::kSocketClosed);
  IOHandler()->Write(batch.data(), batch.size());
}

void TbrzSocket::EndWriteBatch() {
  std::lock_guard<std::mutex> guard(FBatchLock);
  FBatching = false;
  FBatch.clear();
}

void TbrzSocket::ClearWriteBuffer() {
  std::lock_guard<std::mutex> guard(FBatchLock);
  FBatch.clear();
}

void TbrzSocket::CheckForDisconnect() {
  if (BufferedCount() > 0) return;
  if (FFd.load() < 0) throw ESocketClosed(msg::kSocketClosed);
  if (FClosedByPeer.load()) {
    Disconnect(false);
    throw EConnClosedGracefully(msg::kConnClosedGracefully);
  }
}

void TbrzSocket::CloseSocket() {
  std::lock_guard<std::mutex> closer(FCloseLock);
  int fd = FFd.load();
  if (fd < 0) return;
  // Wakes a reader in poll and a writer in send before the exclusive lock is taken.
  ::shutdown(fd, SHUT_RDWR);
  std::unique_lock<std::shared_mutex> guard(FFdLock);
  std::shared_ptr<TbrzIOHandler> handler = IOHandler();
  if (handler && handler->Opened()) {
    try {
      handler->Close();
    } catch (const std::exception&) {
      // The descriptor goes away below; a failing session close changes nothing for the caller.
    }
  }
  ::close(fd);
  FFd = -1;
}

void TbrzSocket::Disconnect(bool /*notifyPeer*/) {
  CloseSocket();
  NotifyDisconnected();
}

void TbrzSocket::NotifyDisconnected() {
  if (FStatusAnnounced.exchange(true)) return;
  if (OnStatus) OnStatus(TbrzSocketStatus::ssDisconnected);
}

void TbrzSocket::SetSendTimeout(int ms) {
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  int fd = FFd.load();
  if (fd < 0 || ms <= 0) return;
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) throw SocketErrorFromErrno(errno);
}

void TbrzSocket::SetKeepAlive(bool enabled, int timeMs, int intervalMs) {
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  int fd = FFd.load();
  if (fd < 0) return;
  int on = enabled ? 1 : 0;
  if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) throw SocketErrorFromErrno(errno);
  if (!enabled) return;
  // The kernel counts in whole seconds; round up so a short setting never becomes 0.
  int idle = timeMs > 0 ? (timeMs + 999) / 1000 : 1;
  int interval = intervalMs > 0 ? (intervalMs + 999) / 1000 : 1;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0) throw SocketErrorFromErrno(errno);
  if (::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0)
    throw SocketErrorFromErrno(errno);
}

std::string TbrzSocket::PeerIP() const {
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (FFd.load() < 0 || ::getpeername(FFd.load(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  std::string ip;
  int port;
  AddressText(addr, ip, port);
  return ip;
}

int TbrzSocket::PeerPort() const {
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (FFd.load() < 0 || ::getpeername(FFd.load(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  std::string ip;
  int port;
  AddressText(addr, ip, port);
  return port;
}

std::string TbrzSocket::LocalIP() const {
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (FFd.load() < 0 || ::getsockname(FFd.load(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  std::string ip;
  int port;
  AddressText(addr, ip, port);
  return ip;
}

int TbrzSocket::LocalPort() const {
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (FFd.load() < 0 || ::getsockname(FFd.load(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  std::string ip;
  int port;
  AddressText(addr, ip, port);
  return port;
}

TwsIPVersion TbrzSocket::Family() const {
  std::shared_lock<std::shared_mutex> guard(FFdLock);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (FFd.load() >= 0 && ::getsockname(FFd.load(), reinterpret_cast<sockaddr*>(&addr), &len) == 0 &&
      addr.ss_family == AF_INET6)
    return TwsIPVersion::ipV6;
  return TwsIPVersion::ipV4;
}

}  // namespace brz
