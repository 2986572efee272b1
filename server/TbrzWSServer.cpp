#include "server/TbrzWSServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/Memory.h"
#include "common/Text.h"
#include "common/Time.h"
#include "server/ServerMessages.h"
#include "transport/TLSHandlerFactory.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TbrzWSException.h"

namespace brz {

namespace {

// Listener threads look at their stop flag this often.
constexpr int kListenPollMs = 100;
// Wait of an enabled connection with nothing queued: nothing else is due, and data or a close wakes
// the wait at once.
constexpr int kIdleWaitMs = 250;
constexpr int kReStartWaitMs = 30000;

enum TDeferred : int { dfStart, dfStop, dfReStart };

// The server whose context thread is the current thread, if any.
thread_local const TbrzWSServer_Socket_Base* tContextServer = nullptr;

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string item = Trim(std::string_view(text).substr(start, comma - start));
    if (!item.empty()) items.push_back(std::move(item));
    start = comma + 1;
  }
  return items;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  for (const auto& s : list)
    if (s == item) return true;
  return false;
}

bool SubscribedToAny(const TbrzConnectionPtr& c, const std::string& channels) {
  auto* server = dynamic_cast<TbrzWSConnectionServer*>(c.get());
  if (!server) return false;
  for (const auto& channel : SplitList(channels))
    if (server->Subscribed(channel)) return true;
  return false;
}

std::string ErrnoText(int err) {
  char buffer[256];
  return std::string(::strerror_r(err, buffer, sizeof buffer));
}

int LocalPortOf(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

}  // namespace

TbrzWSServer_Socket_Base::TbrzWSServer_Socket_Base() : FToken(std::make_shared<Token>()) { FToken->Server = this; }

TbrzWSServer_Socket_Base::~TbrzWSServer_Socket_Base() { Shutdown(); }

void TbrzWSServer_Socket_Base::Shutdown() {
  {
    // Waits for a deferred activation that is running; later ones find no server.
    std::lock_guard<std::mutex> guard(FToken->Lock);
    FToken->Server = nullptr;
  }
  MarkDestroying();
  SetActive(false);
  EmptyReleaseList();
  {
    std::lock_guard<std::mutex> guard(FCacheLock);
    FCache.clear();
  }
  std::lock_guard<std::mutex> guard(FChannelLock);
  FChannelIndex.clear();
}

void TbrzWSServer_Socket_Base::AddBinding(const std::string& ip, int port, TwsIPVersion version) {
  FBindings.push_back({ip, port, version});
}

std::vector<std::string> TbrzWSServer_Socket_Base::ListeningAddresses() const {
  std::lock_guard<std::recursive_mutex> guard(FActiveLock);
  std::vector<std::string> out;
  for (const auto& l : FListeners) out.push_back(l->IP + ":" + std::to_string(l->Port));
  return out;
}

// --- Activation ---

void TbrzWSServer_Socket_Base::SetActive(bool value) {
  std::lock_guard<std::recursive_mutex> guard(FActiveLock);
  if (value == FActive.load()) return;
  if (value) {
    if (IsDestroying()) return;
    if (FSSL.load()) {
      if (!FSSLHandler) FSSLHandler = CreateServerTLSHandler(FSSLOptions);
      ApplyServerCertificateFiles(*FSSLHandler, FSSLOptions);
      FSSLHandler->Reset();
      FSSLHandler->Init();
    } else {
      FSSLHandler.reset();
    }
    StopHeartBeat();
    FreeTimerAndWait(FReleaseTimer);
    OpenListeners();
    FActive = true;
    FListening = true;
    for (auto& l : FListeners) {
      Listener* raw = l.get();
      l->Thread = std::thread([this, raw] { ListenLoop(raw); });
    }
    if (FSSLHandler) RunQuietly([this] { FSSLHandler->StartUp(TwsOpenSSLAPI::oslAPI_1_0); });
    if (OnStartup) OnStartup();
    StartHeartBeat();
    if (FOptimizations.ConnectionsFree.Enabled) {
      FReleaseTimer = std::make_unique<TbrzTimer>(FOptimizations.ConnectionsFree.Interval * 1000);
      FReleaseTimer->SetOnTimer([this](TbrzTimer&) { EmptyReleaseList(); });
    }
    return;
  }
  FActive = false;
  CloseListeners();
  {
    TbrzLock list(FContextLock);
    for (auto& ctx : FContexts) RunQuietly([&ctx] { ctx->Socket->CloseSocket(); });
  }
  {
    // A context thread that deactivates the server does not wait for itself.
    const int own = tContextServer == this ? 1 : 0;
    std::unique_lock<std::mutex> count(FThreadCountLock);
    FThreadsDone.wait(count, [this, own] { return FContextThreads <= own; });
  }
  if (OnShutdown && !IsDestroying()) RunQuietly([this] { OnShutdown(); });
  StopHeartBeat();
  FreeTimerAndWait(FReleaseTimer);
  EmptyReleaseList();
}

void TbrzWSServer_Socket_Base::OpenListeners() {
  struct Wanted {
    std::string IP;
    int Port;
    bool V6;
    bool Optional;  // the implicit IPv6 binding: skipped where the platform has no IPv6
  };
  std::vector<Wanted> wanted;
  if (FBindings.empty()) {
    wanted.push_back({"", Port(), false, false});
    wanted.push_back({"", Port(), true, true});
  } else {
    for (const auto& b : FBindings) {
      bool v6 = b.IPVersion == TwsIPVersion::ipV6 || b.IP.find(':') != std::string::npos;
      wanted.push_back({b.IP, b.Port > 0 ? b.Port : Port(), v6, false});
    }
  }
  std::vector<std::unique_ptr<Listener>> opened;
  auto closeOpened = [&opened] {
    for (auto& l : opened) ::close(l->Fd);
  };
  for (const Wanted& w : wanted) {
    int port = w.Port;
    // A second implicit binding on an ephemeral port follows the first one's choice.
    if (port == 0 && !opened.empty() && FBindings.empty()) port = opened.front()->Port;
    const std::string shown = w.IP.empty() ? (w.V6 ? "::" : "0.0.0.0") : w.IP;
    if (port < 0 || port > 65535) {
      closeOpened();
      throw ESocketError(FormatMsg(msg::kInvalidListenPort, port));
    }
    addrinfo hints{};
    hints.ai_family = w.V6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    int rc = ::getaddrinfo(w.IP.empty() ? nullptr : w.IP.c_str(), service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
      if (w.Optional) continue;
      closeOpened();
      throw ESocketError(FormatMsg(msg::kInvalidBindAddress, shown.c_str()));
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(list, ::freeaddrinfo);
    int fd = ::socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      int err = errno;
      if (w.Optional) continue;
      closeOpened();
      throw SocketErrorFromErrno(err);
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (w.V6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, list->ai_addr, list->ai_addrlen) != 0) {
      int err = errno;
      ::close(fd);
      if (w.Optional && (err == EADDRNOTAVAIL || err == EAFNOSUPPORT)) continue;
      closeOpened();
      throw ESocketError(FormatMsg(msg::kBindFailed, shown.c_str(), port, ErrnoText(err).c_str()), err);
    }
    if (::listen(fd, SOMAXCONN) != 0) {
      int err = errno;
      ::close(fd);
      closeOpened();
      throw ESocketError(FormatMsg(msg::kListenFailed, shown.c_str(), port, ErrnoText(err).c_str()), err);
    }
    auto l = std::make_unique<Listener>();
    l->Fd = fd;
    l->IP = shown;
    l->Port = LocalPortOf(fd);
    opened.push_back(std::move(l));
  }
  FListeners = std::move(opened);
}

void TbrzWSServer_Socket_Base::CloseListeners() {
  FListening = false;
  for (auto& l : FListeners) {
    if (l->Thread.joinable()) l->Thread.join();
    ::close(l->Fd);
  }
  FListeners.clear();
}

void TbrzWSServer_Socket_Base::ListenLoop(Listener* listener) {
  while (FListening.load()) {
    pollfd p{listener->Fd, POLLIN, 0};
    int rc = ::poll(&p, 1, kListenPollMs);
    if (rc <= 0) continue;
    int fd = ::accept4(listener->Fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors or memory: give the system a moment instead of spinning.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (!FListening.load() || IsDestroying()) {
      ::close(fd);
      break;
    }
    const int max = FMaxConnections.load();
    if (max > 0 && Count() >= max) {
      ::close(fd);
      continue;
    }
    int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    auto ctx = std::make_shared<TbrzServerContext>();
    ctx->Fd = fd;
    ctx->Socket = std::make_shared<TbrzSocket>();
    {
      TbrzLock list(FContextLock);
      FContexts.push_back(ctx);
    }
    {
      std::lock_guard<std::mutex> count(FThreadCountLock);
      ++FContextThreads;
    }
    try {
      std::thread([this, ctx] { ContextThread(ctx); }).detach();
    } catch (const std::system_error&) {
      // No thread for this socket: refuse it like a full server.
      {
        TbrzLock list(FContextLock);
        std::erase(FContexts, ctx);
      }
      ::close(fd);
      std::lock_guard<std::mutex> count(FThreadCountLock);
      --FContextThreads;
      FThreadsDone.notify_all();
    }
  }
}

// --- Contexts ---

TbrzWSConnectionServerPtr TbrzWSServer_Socket_Base::ContextConnection(TbrzServerContext& ctx) {
  TbrzLock list(FContextLock);
  return ctx.Connection;
}

void TbrzWSServer_Socket_Base::ContextThread(TbrzServerContextPtr ctx) {
  tContextServer = this;
  try {
    AcceptContext(*ctx);
    while (ExecuteStep(*ctx)) {
    }
  } catch (const std::exception& e) {
    if (!IsSilentSocketError(e)) ReportException(ContextConnection(*ctx), e.what(), &e);
  }
  RunQuietly([&] { DisconnectContext(*ctx); });
  {
    TbrzLock list(FContextLock);
    std::erase(FContexts, ctx);
  }
  ctx.reset();
  tContextServer = nullptr;
  std::lock_guard<std::mutex> count(FThreadCountLock);
  --FContextThreads;
  FThreadsDone.notify_all();
}

void TbrzWSServer_Socket_Base::AcceptContext(TbrzServerContext& ctx) {
  TbrzSocket& s = *ctx.Socket;
  std::shared_ptr<TbrzIOHandler> inner;
  bool tls = false;
  if (FSSLHandler) {
    const int port = FSSLOptions.Port;
    if (port == 0 || port == LocalPortOf(ctx.Fd)) {
      inner = FSSLHandler->MakeConnectionHandler();
      tls = true;
    }
  }
  if (!inner) inner = std::make_shared<TbrzIOHandlerSocket>();
  ctx.IOHandler = std::make_shared<TbrzReplayIOHandler>(inner);
  s.SetIOHandler(ctx.IOHandler);
  // Runs the TLS handshake on a TLS port; a failure closes the socket and ends the context.
  s.Attach(ctx.Fd);
  if (IsDestroying() || !FActive.load()) return;

  auto c = std::make_shared<TbrzWSConnectionServer>();
  c->AttachSocket(ctx.Socket);
  try {
    if (FOptions.WriteTimeOut > 0) s.SetSendTimeout(FOptions.WriteTimeOut);
    if (FTCPKeepAlive.Enabled) s.SetKeepAlive(true, FTCPKeepAlive.Time, FTCPKeepAlive.Interval);
    c->SetServerSSL(tls);
    c->SetServerOriginsAllowed(FSecurityOptions.OriginsAllowed);
    c->SetValidateUTF8(FOptions.ValidateUTF8);
    c->SetCleanDisconnect(FOptions.CleanDisconnect);
    c->SetRaiseDisconnectExceptions(FOptions.RaiseDisconnectExceptions);
    c->SetQueueOptions(FQueueOptions);
    c->SetFragmentedMessages(FOptions.FragmentedMessages);
    c->Extensions().Assign(FExtensions);
    c->Extensions().SetMode(TwsApplicationMode::appServer);
    c->SetProtocol(SubProtocols());
    c->SetReadTimeOut(FOptions.ReadTimeOut());

    c->OnMessage = [this](const TbrzConnectionPtr& C, const std::string& text) {
      C->SetMsgReceived(text);
      DeliverMessage(C);
    };
    c->OnBinary = [this](const TbrzConnectionPtr& C, TbrzMemoryStream& data) {
      C->SetMsgBinaryReceived(data);
      DeliverBinary(C);
    };
    c->OnFragmented = [this](const TbrzConnectionPtr& C, TbrzMemoryStream& data, TOpcode op, bool cont) {
      DeliverFragmented(C, data, op, cont);
    };
    c->OnHandshake = [this](const TbrzConnectionPtr& C, std::vector<std::string>& lines) {
      if (OnHandshake) OnHandshake(C, lines);
    };
    c->OnUpdate = [this](const TbrzConnectionPtr& C) { UpdateConnection(C); };
    if (FOptimizations.Channels.Enabled) {
      c->OnSubscription = [this](const TbrzConnectionPtr& C, const std::string& channel, bool subscribed) {
        UpdateChannel(C, channel, subscribed);
      };
    }
    {
      TbrzLock list(FContextLock);
      ctx.Connection = c;
    }
    c->SetIPVersion(s.Family());
    bool accept = true;
    if (OnTCPConnect) OnTCPConnect(c, accept);
    if (!accept) throw TbrzWSException(msg::kConnectionRejected);
  } catch (const std::exception& e) {
    ReportError(c, e.what());
  }
}

bool TbrzWSServer_Socket_Base::ExecuteStep(TbrzServerContext& ctx) {
  if (IsDestroying() || !FActive.load()) return false;
  TbrzSocket& s = *ctx.Socket;
  if (!s.HandleAllocated()) return false;
  TbrzWSConnectionServerPtr c = ContextConnection(ctx);
  if (s.BufferedCount() == 0) {
    const bool idle = c && c->Enabled() && !FQueueOptions.Any();
    s.WaitForData(idle ? kIdleWaitMs : FOptions.ReadTimeOut());
  }
  if (!c || c->Disconnected()) {
    s.ClearBuffered();
    s.CloseSocket();
    return false;
  }
  if (FQueueOptions.Any()) c->FlushQueues();
  // A peer that never completes its request must not hold a thread for ever.
  if (!c->Enabled() && HandshakeTimeOut > 0 && SteadyMs() - c->FAcceptedAt >= HandshakeTimeOut) {
    ReportError(c, msg::kHandshakeTimeout);
    return false;
  }
  if (s.BufferedCount() == 0) {
    if (!c->Enabled()) {
      if (FReadEmptySource > 0) {
        if (++c->FReadCount >= FReadEmptySource) {
          CloseAndRelease(ctx, c);
          return false;
        }
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    s.CheckForDisconnect();
    return true;
  }
  c->FReadCount = 0;
  try {
    if (c->Enabled()) {
      c->ReadData();
    } else {
      Classify(ctx, c);
    }
  } catch (const ESocketSilentError&) {
    throw;
  } catch (const TbrzWSStartSSLError&) {
    throw;
  } catch (const std::exception& e) {
    ReportError(c, e.what());
  }
  return true;
}

void TbrzWSServer_Socket_Base::CloseAndRelease(TbrzServerContext& ctx, const TbrzWSConnectionServerPtr& c) {
  TbrzSocket& s = *ctx.Socket;
  s.ClearBuffered();
  {
    TbrzLock list(FContextLock);
    ctx.Connection.reset();
  }
  s.CloseSocket();
  if (c) ReleaseConnection(c);
}

void TbrzWSServer_Socket_Base::DisconnectContext(TbrzServerContext& ctx) {
  TbrzWSConnectionServerPtr c;
  {
    TbrzLock list(FContextLock);
    c = std::exchange(ctx.Connection, nullptr);
  }
  ctx.Socket->CloseSocket();
  ctx.Socket->ClearBuffered();
  if (!c) return;
  if (!c->Enabled()) {
    ReleaseConnection(c);
    return;
  }
  c->SetDisconnected(true);
  RemoveFromIndexes(c);
  if (IsDestroying()) {
    ReleaseConnection(c);
    return;
  }
  DeliverDisconnect(c);
}

void TbrzWSServer_Socket_Base::UpdateConnection(const TbrzConnectionPtr& C) {
  // A protocol dialect switched off on the component is refused.
  const auto dialect = C->Specification();
  const bool rfc6455Off = !FSpecifications.RFC6455;
  const bool hixie76Off = !FSpecifications.Drafts.Hixie76;
  if ((dialect == TwsSpecification::spRFC6455 && rfc6455Off) || (dialect == TwsSpecification::spHixie76 && hixie76Off)) {
    C->Disconnect();
    return;
  }
  if (!C->Enabled() || C->Disconnected()) return;
  if (FOptimizations.Connections.Enabled) {
    std::lock_guard<std::mutex> guard(FCacheLock);
    FCache[C->GetGuid()] = C;
  }
  DeliverConnect(C);
}

void TbrzWSServer_Socket_Base::RemoveFromIndexes(const TbrzConnectionPtr& C) {
  const std::string guid = C->GetGuid();
  {
    std::lock_guard<std::mutex> guard(FChannelLock);
    for (auto it = FChannelIndex.begin(); it != FChannelIndex.end();) {
      it->second.erase(guid);
      it = it->second.empty() ? FChannelIndex.erase(it) : std::next(it);
    }
  }
  std::lock_guard<std::mutex> guard(FCacheLock);
  FCache.erase(guid);
}

void TbrzWSServer_Socket_Base::UpdateChannel(const TbrzConnectionPtr& C, const std::string& channel, bool subscribed) {
  std::lock_guard<std::mutex> guard(FChannelLock);
  if (subscribed) {
    FChannelIndex[channel][C->GetGuid()] = C;
    return;
  }
  auto it = FChannelIndex.find(channel);
  if (it == FChannelIndex.end()) return;
  it->second.erase(C->GetGuid());
  if (it->second.empty()) FChannelIndex.erase(it);
}

// --- Release ---

void TbrzWSServer_Socket_Base::ReleaseConnection(const TbrzConnectionPtr& C) {
  if (!C) return;
  C->Free();
  if (!FOptimizations.ConnectionsFree.Enabled || IsDestroying() || !FActive.load()) return;
  std::lock_guard<std::mutex> guard(FReleaseLock);
  FReleaseList.push_back(C);
}

void TbrzWSServer_Socket_Base::FreeConnection(TbrzConnectionPtr& connection) {
  ReleaseConnection(connection);
  connection.reset();
}

size_t TbrzWSServer_Socket_Base::ReleaseListCount() {
  std::lock_guard<std::mutex> guard(FReleaseLock);
  return FReleaseList.size();
}

void TbrzWSServer_Socket_Base::EmptyReleaseList() {
  std::vector<TbrzConnectionPtr> doomed;
  {
    std::lock_guard<std::mutex> guard(FReleaseLock);
    doomed.swap(FReleaseList);
  }
}

// --- Lookups ---

int TbrzWSServer_Socket_Base::Count() {
  TbrzLock list(FContextLock);
  return static_cast<int>(FContexts.size());
}

TbrzConnectionPtr TbrzWSServer_Socket_Base::GetConnectionByIndex(int Index) {
  TbrzLock list(FContextLock);
  if (Index < 0 || Index >= static_cast<int>(FContexts.size())) return nullptr;
  return FContexts[static_cast<size_t>(Index)]->Connection;
}

TbrzConnectionPtr TbrzWSServer_Socket_Base::GetConnectionByGuid(const std::string& aGuid) {
  if (FOptimizations.Connections.Enabled) {
    std::lock_guard<std::mutex> guard(FCacheLock);
    auto it = FCache.find(aGuid);
    return it == FCache.end() ? nullptr : it->second;
  }
  TbrzLock list(FContextLock);
  for (auto& ctx : FContexts) {
    TbrzConnectionPtr c = ctx->Connection;
    if (!c) continue;
    try {
      if (c->GetGuid() == aGuid) return c;
    } catch (const std::exception& e) {
      ReportException(c, e.what(), &e);
    }
  }
  return nullptr;
}

bool TbrzWSServer_Socket_Base::WriteData(const std::string& aGuid, const std::string& aMessage) {
  TbrzConnectionPtr c = GetConnectionByGuid(aGuid);
  if (!c || !c->Enabled() || c->Disconnected()) return false;
  try {
    c->WriteData(aMessage);
    return true;
  } catch (const std::exception& e) {
    ReportError(c, e.what());
    return false;
  }
}

bool TbrzWSServer_Socket_Base::WriteData(const std::string& aGuid, TbrzMemoryStream& aStream, int aSize,
                                         TwsStreaming aStreaming) {
  TbrzConnectionPtr c = GetConnectionByGuid(aGuid);
  if (!c || !c->Enabled() || c->Disconnected()) return false;
  try {
    c->WriteData(aStream, aSize, aStreaming);
    return true;
  } catch (const std::exception& e) {
    ReportError(c, e.what());
    return false;
  }
}

void TbrzWSServer_Socket_Base::DisconnectAll() {
  TbrzLock list(FContextLock);
  for (auto it = FContexts.rbegin(); it != FContexts.rend(); ++it) {
    TbrzConnectionPtr c = (*it)->Connection;
    if (!c || !c->GetActive() || c->Disconnected()) continue;
    try {
      c->DisconnectPeer(false);
    } catch (const std::exception& e) {
      ReportException(c, e.what(), &e);
    }
  }
}

// --- Broadcast ---

std::vector<TbrzConnectionPtr> TbrzWSServer_Socket_Base::Snapshot(const std::string& aChannel, bool& channelWalk) {
  std::vector<TbrzConnectionPtr> out;
  channelWalk = !aChannel.empty() && FOptimizations.Channels.Enabled;
  if (channelWalk) {
    std::lock_guard<std::mutex> guard(FChannelLock);
    auto it = FChannelIndex.find(aChannel);
    if (it != FChannelIndex.end())
      for (auto& [guid, c] : it->second) out.push_back(c);
    return out;
  }
  // Writes happen after the list lock is released: a slow peer must not hold up accepting and
  // disconnecting; the copies keep every connection alive meanwhile.
  TbrzLock list(FContextLock);
  out.reserve(FContexts.size());
  for (auto& ctx : FContexts)
    if (ctx->Connection) out.push_back(ctx->Connection);
  return out;
}

bool TbrzWSServer_Socket_Base::Eligible(const TbrzConnectionPtr& c, bool forPing, const std::vector<std::string>& exclude,
                                        const std::vector<std::string>& include) const {
  if (!c || !c->Enabled()) return false;
  if (!forPing && c->Disconnected()) return false;
  if (exclude.empty() && include.empty()) return true;
  const std::string guid = c->GetGuid();
  if (Contains(exclude, guid)) return false;
  return include.empty() || Contains(include, guid);
}

void TbrzWSServer_Socket_Base::Broadcast(const std::string& aMessage, const std::string& aChannel,
                                         const std::string& aProtocol, const std::string& Exclude,
                                         const std::string& Include) {
  const auto exclude = SplitList(Exclude);
  const auto include = SplitList(Include);
  const std::string protocol = UpperCase(aProtocol);
  bool channelWalk = false;
  auto list = Snapshot(aChannel, channelWalk);
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    const TbrzConnectionPtr& c = *it;
    try {
      if (!Eligible(c, false, exclude, include)) continue;
      if (c->Transport() == TwsTransport::trpHTTP2) continue;
      if (UpperCase(c->Protocol()) != protocol) continue;
      if (!channelWalk && !aChannel.empty() && !SubscribedToAny(c, aChannel)) continue;
      c->WriteData(aMessage);
    } catch (const std::exception& e) {
      ReportException(c, e.what(), &e);
    }
  }
}

void TbrzWSServer_Socket_Base::Broadcast(TbrzMemoryStream& aStream, const std::string& aChannel,
                                         const std::string& aProtocol, const std::string& Exclude,
                                         const std::string& Include, int aSize, TwsStreaming aStreaming) {
  const auto exclude = SplitList(Exclude);
  const auto include = SplitList(Include);
  const std::string protocol = UpperCase(aProtocol);
  bool channelWalk = false;
  auto list = Snapshot(aChannel, channelWalk);
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    const TbrzConnectionPtr& c = *it;
    try {
      if (!Eligible(c, false, exclude, include)) continue;
      if (c->Transport() == TwsTransport::trpHTTP2) continue;
      if (UpperCase(c->Protocol()) != protocol) continue;
      if (!channelWalk && !aChannel.empty() && !SubscribedToAny(c, aChannel)) continue;
      c->WriteData(aStream, aSize, aStreaming);
    } catch (const std::exception& e) {
      ReportException(c, e.what(), &e);
    }
  }
}

void TbrzWSServer_Socket_Base::Ping(const std::string& aText) {
  const std::string text = aText.empty() ? FormatLocalNow("yyyymmddhhnnsszzz") : aText;
  bool channelWalk = false;
  auto list = Snapshot(std::string(), channelWalk);
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    const TbrzConnectionPtr& c = *it;
    try {
      if (!Eligible(c, true, {}, {})) continue;
      bool handled = false;
      if (OnBeforeHeartBeat) OnBeforeHeartBeat(c, handled);
      if (auto* server = dynamic_cast<TbrzWSConnectionServer*>(c.get())) server->SetCustomHeartBeat(handled);
      if (!handled) c->Ping(text);
    } catch (const std::exception& e) {
      ReportException(c, e.what(), &e);
    }
  }
}

// --- Heartbeat ---

void TbrzWSServer_Socket_Base::StartHeartBeat() {
  if (!FHeartBeat.Enabled) return;
  FHeartBeatTimer = std::make_unique<TbrzTimer>(FHeartBeat.Interval * 1000);
  FHeartBeatTimer->SetOnTimer([this](TbrzTimer&) { HeartBeatTick(); });
}

void TbrzWSServer_Socket_Base::StopHeartBeat() { FreeTimerAndWait(FHeartBeatTimer); }

void TbrzWSServer_Socket_Base::HeartBeatTick() {
  Ping();
  if (FHeartBeat.Timeout <= 0) return;
  const int64_t limit = static_cast<int64_t>(FHeartBeat.Timeout) * 1000;
  const int64_t now = WallMs();
  bool channelWalk = false;
  for (const TbrzConnectionPtr& c : Snapshot(std::string(), channelWalk)) {
    auto* server = dynamic_cast<TbrzWSConnectionServer*>(c.get());
    if (!server || !c->Enabled() || c->Disconnected()) continue;
    const TwsTransport t = c->Transport();
    // Raw TCP peers have no pongs.
    if (t != TwsTransport::trpRFC6455 && t != TwsTransport::trpHixie76 && t != TwsTransport::trpFlash &&
        t != TwsTransport::trpRFC8441)
      continue;
    const int64_t last = std::max(server->LastPong(), server->EnabledAt());
    if (now - last <= limit) continue;
    TbrzWSException e(msg::kHeartBeatTimeout);
    ReportException(c, e.what(), &e);
  }
}

// --- Deferred activation ---

void TbrzWSServer_Socket_Base::Start() { RunDeferred(dfStart); }
void TbrzWSServer_Socket_Base::Stop() { RunDeferred(dfStop); }
void TbrzWSServer_Socket_Base::ReStart() { RunDeferred(dfReStart); }

void TbrzWSServer_Socket_Base::RunDeferred(int method) {
  std::weak_ptr<Token> weak = FToken;
  std::thread([weak, method] {
    auto token = weak.lock();
    if (!token) return;
    if (method == dfReStart) {
      {
        std::lock_guard<std::mutex> guard(token->Lock);
        if (!token->Server || !token->Server->Active()) return;
        token->Server->RunDeferred(dfStop);
      }
      for (int waited = 0; waited < kReStartWaitMs; ++waited) {
        {
          std::lock_guard<std::mutex> guard(token->Lock);
          if (!token->Server) return;
          if (!token->Server->Active()) {
            token->Server->RunDeferred(dfStart);
            return;
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      return;
    }
    std::lock_guard<std::mutex> guard(token->Lock);
    TbrzWSServer_Socket_Base* server = token->Server;
    if (!server) return;
    try {
      TbrzLock main(server->CS());
      server->SetActive(method == dfStart);
    } catch (const std::exception& e) {
      server->DeliverException(e.what(), &e);
    }
  }).detach();
}

}  // namespace brz
