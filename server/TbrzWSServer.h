#pragma once
// The server component core: listening bindings with one listener thread each, one context thread per
// accepted socket running the execute step, the context list (the connection list of the component),
// the connection cache and channel index, broadcasts, deferred activation, the server heartbeat and the
// deferred release of connection objects.
//
// Threads: listener threads accept; each context thread owns its socket's reading, classification
// and events (neNoSync: handlers run there). Broadcast, WriteData and the lookups may be called from
// any thread. Connections are shared: every thread working on one holds a copy, so a connection
// released while a broadcast still writes to it is never freed under it.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/TbrzTimer.h"
#include "framework/TbrzWSComponent.h"
#include "server/TbrzWSConnectionServer.h"
#include "transport/TbrzIdSSLIOHandlerServerOpenSSL.h"
#include "transport/TbrzSSLOptions.h"
#include "websocket/TbrzWSClientOptions.h"
#include "websocket/TbrzWSExtensions.h"

namespace brz {

struct TbrzWSOptionsServer {
  bool CleanDisconnect = false;
  TwsFragmentedMessages FragmentedMessages = TwsFragmentedMessages::frgOnlyBuffer;
  bool HTMLFiles = false;
  bool JavascriptFiles = true;
  bool RaiseDisconnectExceptions = true;
  bool ValidateUTF8 = false;
  int WriteTimeOut = 0;  // ms; 0: the system's (unbounded) send
  // ms a connection waits for input per step; reading turns a value <= 0 into 1.
  int ReadTimeOut() {
    if (FReadTimeOut <= 0) FReadTimeOut = 1;
    return FReadTimeOut;
  }
  void SetReadTimeOut(int value) { FReadTimeOut = value; }
  void Assign(const TbrzWSOptionsServer& other) { *this = other; }

 private:
  int FReadTimeOut = 10;
};

struct TbrzWSSecurityOptions {
  std::string OriginsAllowed;  // comma-separated masks; empty: any origin
  void Assign(const TbrzWSSecurityOptions& other) { *this = other; }
};

struct TbrzWSServerOptimizations {
  struct {
    bool Enabled = true;
    int CacheSize = 100;
    int GroupLevel = 1;
  } Connections;
  struct {
    bool Enabled = true;
  } Channels;
  struct {
    bool Enabled = true;
    int Interval = 60;  // seconds between emptying the release list
  } ConnectionsFree;
};

struct TbrzWSServerBinding {
  std::string IP;  // empty: all addresses of the family
  int Port = 0;    // 0: the server's Port
  TwsIPVersion IPVersion = TwsIPVersion::ipV4;
};

using TbrzAcceptEvent = std::function<void(const TbrzConnectionPtr& Connection, bool& Accept)>;
using TbrzHandshakeEvent = std::function<void(const TbrzConnectionPtr& Connection, std::vector<std::string>& Headers)>;
using TbrzBeforeHeartBeatEvent = std::function<void(const TbrzConnectionPtr& Connection, bool& Handled)>;

// One accepted socket.
struct TbrzServerContext {
  std::shared_ptr<TbrzSocket> Socket;
  std::shared_ptr<TbrzReplayIOHandler> IOHandler;
  int Fd = -1;
  // The data slot: guarded by the server's context-list lock.
  TbrzWSConnectionServerPtr Connection;
  // Bytes taken out while an incomplete request is awaited (context thread only).
  TBytes Request;
};
using TbrzServerContextPtr = std::shared_ptr<TbrzServerContext>;

class TbrzWSComponent_Server : public TbrzWSComponent {
 public:
  TbrzWSOptionsServer& Options() { return FOptions; }
  void SetOptions(const TbrzWSOptionsServer& value) { FOptions.Assign(value); }
  TbrzWSSecurityOptions& SecurityOptions() { return FSecurityOptions; }
  TbrzWSQueueOptions& QueueOptions() { return FQueueOptions; }
  TbrzWSSpecifications& Specifications() { return FSpecifications; }
  TbrzWSServerOptimizations& Optimizations() { return FOptimizations; }
  // Extension settings copied into every connection.
  TbrzWSExtensions& Extensions() { return FExtensions; }

 protected:
  TbrzWSComponent_Server() {
    FExtensions.SetMode(TwsApplicationMode::appServer);
    // Draft clients are served unless switched off.
    FSpecifications.Drafts.Hixie76 = true;
  }

  TbrzWSOptionsServer FOptions;
  TbrzWSSecurityOptions FSecurityOptions;
  TbrzWSQueueOptions FQueueOptions;
  TbrzWSSpecifications FSpecifications;
  TbrzWSServerOptimizations FOptimizations;
  TbrzWSExtensions FExtensions;
};

class TbrzWSServer_Socket_Base : public TbrzWSComponent_Server {
 public:
  // Bound on a request header before the handshake.
  static constexpr size_t kMaxRequestHeaderSize = 16 * 1024;
  // A connection that completes no request within this time is dropped.
  static constexpr int kDefaultHandshakeTimeOut = 10000;

  TbrzWSServer_Socket_Base();
  ~TbrzWSServer_Socket_Base() override;

  // Configuration (before activation).
  int Port() const { return FPort.load(); }
  void SetPort(int value) { FPort = value; }
  std::vector<TbrzWSServerBinding>& Bindings() { return FBindings; }
  void AddBinding(const std::string& ip, int port, TwsIPVersion version = TwsIPVersion::ipV4);
  int MaxConnections() const { return FMaxConnections.load(); }
  void SetMaxConnections(int value) { FMaxConnections = value; }
  bool SSL() const { return FSSL.load(); }
  void SetSSL(bool value) { FSSL = value; }
  TbrzWSSSL_Options& SSLOptions() { return FSSLOptions; }
  int64_t FMaxReadBufferSize = 1024000;
  int FReadEmptySource = 0;
  // Read by connection threads; may be tuned while the server runs.
  std::atomic<int> FReadStartSSL{10};
  // ms; 0: never.
  int HandshakeTimeOut = kDefaultHandshakeTimeOut;

  // Listening addresses actually bound (after activation): "ip:port".
  std::vector<std::string> ListeningAddresses() const;

  bool Active() const { return FActive.load(); }
  // Starts or stops listening. Starting raises when a binding fails; what was opened is closed again.
  void SetActive(bool value);
  // Deferred activation on a short-lived thread.
  void Start();
  void Stop();
  void ReStart();

  void Broadcast(const std::string& aMessage, const std::string& aChannel = "", const std::string& aProtocol = "",
                 const std::string& Exclude = "", const std::string& Include = "");
  void Broadcast(TbrzMemoryStream& aStream, const std::string& aChannel = "", const std::string& aProtocol = "",
                 const std::string& Exclude = "", const std::string& Include = "", int aSize = 0,
                 TwsStreaming aStreaming = TwsStreaming::stmNone);
  // Pings every connection; empty text: the local time as yyyymmddhhnnsszzz.
  void Ping(const std::string& aText = "");
  bool WriteData(const std::string& aGuid, const std::string& aMessage);
  bool WriteData(const std::string& aGuid, TbrzMemoryStream& aStream, int aSize = 0,
                 TwsStreaming aStreaming = TwsStreaming::stmNone);
  TbrzConnectionPtr GetConnectionByGuid(const std::string& aGuid);
  TbrzConnectionPtr GetConnectionByIndex(int Index);
  // Every accepted socket, including ones still being classified.
  int Count();
  void LockList() { FContextLock.Acquire(); }
  void UnLockList() { FContextLock.Release(); }
  void DisconnectAll();

  TbrzAcceptEvent OnTCPConnect;
  TbrzAcceptEvent OnUnknownProtocol;
  TbrzHandshakeEvent OnHandshake;
  TbrzBeforeHeartBeatEvent OnBeforeHeartBeat;
  std::function<void()> OnStartup;
  std::function<void()> OnShutdown;

  void ReleaseConnection(const TbrzConnectionPtr& C) override;
  void FreeConnection(TbrzConnectionPtr& connection) override;
  // Connection objects waiting for their deferred release.
  size_t ReleaseListCount();

 protected:
  // First-bytes step of a connection that is not enabled; supplied by the HTTP-capable server.
  virtual void Classify(TbrzServerContext& ctx, const TbrzWSConnectionServerPtr& c) = 0;
  // Discards input, empties the data slot and closes the socket without notification; releases c.
  void CloseAndRelease(TbrzServerContext& ctx, const TbrzWSConnectionServerPtr& c);
  // The update handler: dialect check, connection cache, OnConnect.
  void UpdateConnection(const TbrzConnectionPtr& C);
  // Stops every thread; the most-derived destructor calls it first.
  void Shutdown();

  void StartHeartBeat() override;
  void StopHeartBeat() override;

 private:
  struct Listener {
    int Fd = -1;
    std::string IP;
    int Port = 0;
    std::thread Thread;
  };
  struct Token {
    std::mutex Lock;  // held while a deferred activation thread works on the server
    TbrzWSServer_Socket_Base* Server = nullptr;
  };

  void OpenListeners();
  void CloseListeners();
  void ListenLoop(Listener* listener);
  void ContextThread(TbrzServerContextPtr ctx);
  void AcceptContext(TbrzServerContext& ctx);
  // One execute step; false once the context ends.
  bool ExecuteStep(TbrzServerContext& ctx);
  void DisconnectContext(TbrzServerContext& ctx);
  TbrzWSConnectionServerPtr ContextConnection(TbrzServerContext& ctx);
  std::vector<TbrzConnectionPtr> Snapshot(const std::string& aChannel, bool& channelWalk);
  bool Eligible(const TbrzConnectionPtr& c, bool forPing, const std::vector<std::string>& exclude,
                const std::vector<std::string>& include) const;
  void HeartBeatTick();
  void EmptyReleaseList();
  void RemoveFromIndexes(const TbrzConnectionPtr& C);
  void UpdateChannel(const TbrzConnectionPtr& C, const std::string& channel, bool subscribed);
  void RunDeferred(int method);

  std::atomic<int> FPort{80};
  std::vector<TbrzWSServerBinding> FBindings;
  std::atomic<int> FMaxConnections{0};
  std::atomic<bool> FSSL{false};
  TbrzWSSSL_Options FSSLOptions;
  std::unique_ptr<TbrzIdSSLIOHandlerServerOpenSSL> FSSLHandler;

  std::atomic<bool> FActive{false};
  mutable std::recursive_mutex FActiveLock;  // serialises activation changes; guards FListeners
  std::atomic<bool> FListening{false};
  std::vector<std::unique_ptr<Listener>> FListeners;

  TbrzCriticalSection FContextLock;  // guards FContexts and every context's data slot
  std::vector<TbrzServerContextPtr> FContexts;
  std::mutex FThreadCountLock;  // guards FContextThreads
  std::condition_variable FThreadsDone;
  int FContextThreads = 0;

  std::mutex FCacheLock;  // guards FCache
  std::unordered_map<std::string, TbrzConnectionPtr> FCache;
  std::mutex FChannelLock;  // guards FChannelIndex
  std::map<std::string, std::map<std::string, TbrzConnectionPtr>> FChannelIndex;

  std::mutex FReleaseLock;  // guards FReleaseList
  std::vector<TbrzConnectionPtr> FReleaseList;
  std::unique_ptr<TbrzTimer> FReleaseTimer;

  std::shared_ptr<Token> FToken;
};

}  // namespace brz
