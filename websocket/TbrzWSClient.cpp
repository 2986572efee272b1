#include "websocket/TbrzWSClient.h"

#include "websocket/TbrzWSConnectionRFC6455.h"

#include <chrono>

#include "common/Convert.h"
#include "common/Memory.h"
#include "common/Time.h"
#include "common/Url.h"
#include "framework/TbrzWSProtocol.h"
#include "transport/TbrzSocketErrors.h"
#include "transport/TbrzWSException.h"
#include "websocket/WebSocketMessages.h"

namespace brz {

namespace {

// Polls pred every millisecond for up to ms milliseconds on the monotonic clock.
template <class Pred>
bool PollFor(int ms, Pred pred) {
  const uint64_t start = TickCount64();
  for (;;) {
    if (pred()) return true;
    if (TickCount64() - start >= static_cast<uint64_t>(ms)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

TbrzWSClient::TbrzWSClient() { FExtensions.SetMode(TwsApplicationMode::appClient); }

TbrzWSClient::~TbrzWSClient() { Shutdown(); }

void TbrzWSClient::Shutdown() {
  if (FShutDown.exchange(true)) return;
  // Events detected while tearing down are dropped.
  MarkDestroying();
  FWatchDogEnabled = false;
  FWatchDogToken->store(false);
  if (auto c = Connection()) {
    StopReading(c);
  }
  if (auto client = SocketClient()) {
    RunQuietly([&] { client->Disconnect(false); });
    // Joined here, so no read-thread work overlaps the destructors.
    if (!client->ReadThreadIsCurrent()) client->StopReadThread();
  }
  std::vector<TClientThread> threads;
  {
    std::lock_guard<std::mutex> guard(FThreadsLock);
    threads.swap(FClientThreads);
  }
  for (auto& t : threads) {
    if (t.Thread.get_id() == std::this_thread::get_id()) {
      t.Thread.detach();
    } else if (t.Thread.joinable()) {
      t.Thread.join();
    }
  }
  // Destroyed outside the lock: destroying a socket client joins its read thread, which may be
  // waiting for that lock.
  std::shared_ptr<TbrzWSConnectionClient> connection;
  std::shared_ptr<TbrzIdTCPClient> client;
  std::vector<std::shared_ptr<TbrzIdTCPClient>> retired;
  {
    std::lock_guard<std::mutex> guard(FClientLock);
    connection = std::move(FConnection);
    client = std::move(FSocketClient);
    retired.swap(FRetiredClients);
  }
  client.reset();
  retired.clear();
  DisposeHeartBeatTimers();
}

std::string TbrzWSClient::Version() const { return msg::kClientVersion; }

std::shared_ptr<TbrzIdTCPClient> TbrzWSClient::SocketClient() const {
  std::lock_guard<std::mutex> guard(FClientLock);
  return FSocketClient;
}

std::shared_ptr<TbrzWSConnectionClient> TbrzWSClient::Connection() const {
  std::lock_guard<std::mutex> guard(FClientLock);
  return FConnection;
}

bool TbrzWSClient::Active() const { return Connection() != nullptr; }

void TbrzWSClient::SetActive(bool value) {
  if (value) {
    if (IsDestroying()) return;
    Activate();
  } else {
    // An activation under way on another thread (a watchdog reconnect) finishes first, so that
    // the deactivation finds the socket client and its read thread complete.
    TbrzLock lock(CS());
    Deactivate();
  }
}

void TbrzWSClient::SetURL(const std::string& aURL) {
  std::string scheme, host, portText, path, query;
  SplitURL(aURL, scheme, host, portText, path, query);
  const bool secure = scheme == "wss" || scheme == "tcps";
  int port = secure ? 443 : 80;
  if (!portText.empty()) {
    try {
      port = StrToInt(portText);
    } catch (const EConvertError& e) {
      // A property write must not throw into the caller's loop: report and keep the old settings.
      DeliverException(e.what(), &e);
      return;
    }
  }
  SetHost(host);
  SetTLS(secure);
  SetPort(port);
  FSpecifications.RFC6455 = secure ? scheme != "tcps" : scheme != "tcp";
  FOptions.SetParameters(path);
  if (!query.empty()) FOptions.SetParameters(FOptions.Parameters() + "?" + query);
}

void TbrzWSClient::DiscardSocketClient() {
  std::shared_ptr<TbrzIdTCPClient> old;
  std::vector<std::shared_ptr<TbrzIdTCPClient>> retired;
  {
    std::lock_guard<std::mutex> guard(FClientLock);
    old = std::move(FSocketClient);
    FSocketClient.reset();
    // A client whose read thread is running this code cannot be destroyed here.
    if (old && old->ReadThreadIsCurrent()) {
      FRetiredClients.push_back(std::move(old));
      old.reset();
    }
    for (auto it = FRetiredClients.begin(); it != FRetiredClients.end();) {
      if ((*it)->ReadThreadIsCurrent()) {
        ++it;
      } else {
        retired.push_back(std::move(*it));
        it = FRetiredClients.erase(it);
      }
    }
  }
  if (old) RunQuietly([&] { old->Disconnect(false); });
  for (auto& r : retired) RunQuietly([&] { r->Disconnect(false); });
}

void TbrzWSClient::Activate() {
  {
    auto client = SocketClient();
    if (client && client->Connected()) return;
  }
  try {
    StopHeartBeat();
    FTLSHandler.reset();
    DiscardSocketClient();
    if (OnBeforeConnect) OnBeforeConnect(this);

    auto client = std::make_shared<TbrzIdTCPClient>();
    const std::shared_ptr<TbrzSocket>& socket = client->Socket();
    if (TLS()) {
      FTLSHandler = CreateTLSHandler();
      socket->SetIOHandler(FTLSHandler);
    }
    socket->Host = Host();
    socket->Port = Port();
    socket->UseNagle = UseNagle();
    socket->IPVersion = IPVersion();
    socket->ConnectTimeout = ConnectTimeout();
    socket->BoundPortMin = FBoundPortMin.load();
    socket->BoundPortMax = FBoundPortMax.load();
    int readTimeout = ReadTimeout();
    if (!Specifications().RFC6455 && readTimeout == -1 && TLSVersionIs13()) readTimeout = 100;
    socket->ReadTimeout = readTimeout;
    if (FProxy.Enabled) {
      if (!TLS()) socket->SetIOHandler(std::make_shared<TbrzIOHandlerSocket>());
      socket->SetProxy(CreateProxy(FProxy));
    }
    socket->OnConnected = [this] { HandleConnected(); };
    socket->OnStatus = [this](TbrzSocketStatus status) { HandleStatus(status); };
    client->OnRead = [this] { HandleRead(); };
    client->OnThread = [this] { HandleThread(); };
    client->OnReadException = [this](TbrzIdTCPClient*, const std::exception& e) { HandleReadException(e); };
    {
      std::lock_guard<std::mutex> guard(FClientLock);
      FSocketClient = client;
    }
    FWatchDogEnabled = WatchDog().Enabled;
    // An activation by the application gives the watchdog its full count of tries again.
    if (!IsWatchDogActivation()) FWatchDogAttempts = 0;
    FConnecting = true;
    client->Connect();
  } catch (const std::exception& e) {
    FConnecting = false;
    auto c = Connection();
    if (c) {
      ReportException(c, e.what(), &e);
    } else {
      DeliverException(e.what(), &e);
    }
    if (FWatchDogEnabled.load()) StartWatchDog();
  }
}

void TbrzWSClient::HandleConnected() {
  FConnecting = false;
  auto client = SocketClient();
  std::shared_ptr<TbrzWSConnectionClient> c;
  try {
    const std::shared_ptr<TbrzSocket>& socket = client->Socket();
    if (WriteTimeout() > 0) socket->SetSendTimeout(WriteTimeout());
    if (FTCPKeepAlive.Enabled) socket->SetKeepAlive(true, FTCPKeepAlive.Time, FTCPKeepAlive.Interval);

    c = CreateConnection();
    c->SetSpecification(TwsSpecification::spRFC6455);
    c->SetTransport(Specifications().RFC6455 ? TwsTransport::trpRFC6455 : TwsTransport::trpTCP);
    c->SetMasked(true);
    c->SetProtocol(SubProtocols());
    c->SetEndpoint(socket->Host, socket->Port);
    c->SetOptions(FOptions);
    c->SetValidateUTF8(FOptions.ValidateUTF8);
    c->SetCleanDisconnect(FOptions.CleanDisconnect);
    c->SetRaiseDisconnectExceptions(FOptions.RaiseDisconnectExceptions);
    c->SetFragmentedMessages(FOptions.FragmentedMessages);
    // Each connection negotiates on its own copy and keeps its own compression histories.
    if (auto* ws = dynamic_cast<TbrzWSConnectionClientRFC6455*>(c.get())) ws->Extensions().Assign(FExtensions);

    // Delivery hooks: a failure inside a user handler becomes OnError for the connection.
    c->OnMessage = [this](const TbrzConnectionPtr& conn, const std::string& text) {
      try {
        conn->SetMsgReceived(text);
        DeliverMessage(conn);
      } catch (const std::exception& e) {
        ReportError(conn, e.what());
      }
    };
    c->OnBinary = [this](const TbrzConnectionPtr& conn, TbrzMemoryStream& data) {
      try {
        conn->SetMsgBinaryReceived(data);
        DeliverBinary(conn);
      } catch (const std::exception& e) {
        ReportError(conn, e.what());
      }
    };
    c->OnFragmented = [this](const TbrzConnectionPtr& conn, TbrzMemoryStream& data, TOpcode op, bool cont) {
      try {
        DeliverFragmented(conn, data, op, cont);
      } catch (const std::exception& e) {
        ReportError(conn, e.what());
      }
    };
    c->OnEnabled = [this](const TbrzConnectionPtr& conn) {
      try {
        DeliverConnect(conn);
      } catch (const std::exception& e) {
        ReportError(conn, e.what());
      }
    };
    c->OnBeforeDisconnect = [this](const TbrzConnectionPtr& conn) { StopReading(conn); };
    c->OnRedirect = [this](const TbrzConnectionPtr&, const std::string& location) { Redirect(location); };

    {
      std::lock_guard<std::mutex> guard(FClientLock);
      FConnection = c;
    }
    c->AttachSocket(socket);
    if (c->Transport() == TwsTransport::trpTCP) {
      c->Enable();
    } else {
      c->SendHandshakeRequest();
    }
    StartHeartBeat();
  } catch (const std::exception& e) {
    if (c) {
      ReportError(c, e.what());
    } else {
      // No connection object stands for this socket: report and close it.
      ReportError(nullptr, e.what());
      RunQuietly([&] { client->Socket()->CloseSocket(); });
    }
  }
}

void TbrzWSClient::HandleRead() {
  if (IsDestroying()) return;
  auto c = Connection();
  if (!c || c->Disconnected()) return;
  FReadingThread = true;
  try {
    c->ReadData();
  } catch (const std::exception& e) {
    FReadingThread = false;
    ReportException(c, e.what(), &e);
    return;
  }
  FReadingThread = false;
}

void TbrzWSClient::HandleThread() {
  auto c = Connection();
  if (!c || !HasOutboundQueues()) return;
  try {
    FlushOutboundQueues(c);
  } catch (const std::exception& e) {
    ReportError(c, e.what());
  }
}

void TbrzWSClient::HandleReadException(const std::exception& e) {
  if (IsDestroying()) return;
  auto c = Connection();
  const bool closedSocket = dynamic_cast<const ESocketClosed*>(&e) != nullptr;
  // The closed-socket error after our own close is only the echo of that close.
  const bool echo = closedSocket && (!c || c->Disconnected());
  if (!echo && (!IsSilentSocketError(e) || FOptions.RaiseDisconnectExceptions)) {
    if (c) {
      ReportException(c, e.what(), &e);
    } else {
      DeliverException(e.what(), &e);
    }
  }
  if (c) {
    if (auto client = SocketClient()) client->Socket()->ClearBuffered();
    CloseTLSAfterReadFailure();
    if (closedSocket) DeliverDisconnectNotification();
  }
}

void TbrzWSClient::HandleStatus(TbrzSocketStatus status) {
  if (status != TbrzSocketStatus::ssDisconnected || IsDestroying()) return;
  auto client = SocketClient();
  if (client && client->Socket()->HandleAllocated() && client->Connected()) client->Disconnect(false);
  DeliverDisconnectNotification();
}

void TbrzWSClient::DeliverDisconnectNotification() {
  std::shared_ptr<TbrzWSConnectionClient> c;
  {
    std::lock_guard<std::mutex> guard(FClientLock);
    c = std::move(FConnection);
    FConnection.reset();
  }
  // Exactly once per connection: whoever takes it delivers.
  if (!c) return;
  FDisconnecting = true;
  RunQuietly([&] { DeliverDisconnect(c); });
  FDisconnecting = false;
}

void TbrzWSClient::ReleaseConnection(const TbrzConnectionPtr& C) {
  if (C) C->Free();
}

void TbrzWSClient::StopReading(const TbrzConnectionPtr& connection) {
  StopHeartBeat();
  if (connection) connection->SetMustDisconnect(true);
  auto client = SocketClient();
  if (!client) return;
  TbrzTCPReadThread* thread = client->TCPRead();
  if (!thread || thread->Terminated()) return;
  thread->Terminate();
  if (thread->IsCurrentThread()) return;
  if (FReadingThread.load()) {
    // The read thread is inside the read step: give it a moment to leave, never wait for it.
    PollFor(10, [this] { return !FReadingThread.load(); });
    return;
  }
  thread->TerminateAndWaitFor();
}

void TbrzWSClient::Deactivate() {
  FWatchDogEnabled = false;
  ++FDeactivations;
  auto c = Connection();
  if (!c || FDisconnecting.load()) {
    StopWatchDog();
    return;
  }
  try {
    if (FOptions.CleanDisconnect) c->Close(1000);
  } catch (const std::exception& e) {
    ReportError(c, e.what());
  }
  c->RunBeforeDisconnect();
  StopReading(c);
  if (auto client = SocketClient()) {
    client->Socket()->ClearWriteBuffer();
    client->Socket()->ClearBuffered();
    RunQuietly([&] { client->Disconnect(false); });
  }
  // A socket that was already gone announced nothing more: make sure the disconnect is delivered.
  DeliverDisconnectNotification();
}

void TbrzWSClient::Redirect(const std::string& aLocation) {
  Disconnect(10000);
  SetURL(aLocation);
  Connect(10000);
}

bool TbrzWSClient::Connect(int aTimeout) {
  SetActive(true);
  if (!FConnecting.load() && !Connection()) return false;
  if (aTimeout <= 0) return false;
  return PollFor(aTimeout, [this] {
    auto c = Connection();
    return c && c->Enabled();
  });
}

bool TbrzWSClient::Disconnect(int aTimeout) {
  SetActive(false);
  if (aTimeout <= 0) return false;
  return PollFor(aTimeout, [this] { return !Connection(); });
}

bool TbrzWSClient::Connected() const {
  auto client = SocketClient();
  return client && client->Connected();
}

void TbrzWSClient::SpawnClientThread(std::function<void()> body) {
  std::vector<TClientThread> finished;
  {
    std::lock_guard<std::mutex> guard(FThreadsLock);
    // A watchdog starts one thread per try, for days: ended ones are joined here, not at teardown.
    for (auto it = FClientThreads.begin(); it != FClientThreads.end();) {
      if (it->Done->load()) {
        finished.push_back(std::move(*it));
        it = FClientThreads.erase(it);
      } else {
        ++it;
      }
    }
    if (!FShutDown.load()) {
      auto done = std::make_shared<std::atomic<bool>>(false);
      FClientThreads.push_back({std::thread([this, body = std::move(body), done] {
                                  body();
                                  done->store(true);
                                }),
                                done});
    }
  }
  for (auto& t : finished) t.Thread.join();
}

void TbrzWSClient::Start() {
  FThreadStart = true;
  SpawnClientThread([this] {
    TbrzLock lock(CS());
    SetActive(true);
  });
}

void TbrzWSClient::Stop() {
  SpawnClientThread([this] {
    TbrzLock lock(CS());
    SetActive(false);
  });
}

void TbrzWSClient::Ping(const std::string& aText) {
  auto c = Connection();
  if (!c) return;
  try {
    c->Ping(aText.empty() ? FormatLocalNow(msg::kPingTimeFormat) : aText);
  } catch (const std::exception& e) {
    ReportError(c, e.what());
  }
}

bool TbrzWSClient::Ping(int aTimeout, const std::string& aText) {
  auto c = Connection();
  if (!c || aTimeout <= 0) return false;
  const std::string text = aText.empty() ? FormatLocalNow(msg::kPingTimeFormat) : aText;
  try {
    c->Ping(text);
  } catch (const std::exception& e) {
    ReportError(c, e.what());
    return false;
  }
  return PollFor(aTimeout, [&] { return c->Pong() == text; });
}

void TbrzWSClient::WriteData(const std::string& aText, int aSize, TwsStreaming aStreaming) {
  auto c = Connection();
  if (!c) return;
  try {
    c->WriteData(aText, aSize, aStreaming);
  } catch (const std::exception& e) {
    ReportError(c, e.what());
  }
}

void TbrzWSClient::WriteData(TbrzMemoryStream& aStream, int aSize, TwsStreaming aStreaming) {
  auto c = Connection();
  if (!c) return;
  try {
    c->WriteData(aStream, aSize, aStreaming);
  } catch (const std::exception& e) {
    ReportError(c, e.what());
  }
}

std::string TbrzWSClient::WriteAndWaitData(const std::string& aText, int aTimeout) {
  auto c = Connection();
  if (!c) return {};
  try {
    return c->WriteAndWaitData(aText, aTimeout);
  } catch (const std::exception& e) {
    ReportError(c, e.what());
    return {};
  }
}

std::shared_ptr<TbrzWSConnectionClient> TbrzWSClient::CreateConnection() {
  return std::make_shared<TbrzWSConnectionClientRFC6455>();
}

}  // namespace brz
