#pragma once
// The client component: connects by URL (tcp/tcps raw, ws/wss WebSocket), optionally through a
// proxy and with TLS, owns one socket client with its read thread and one connection object, and
// raises the component events. Activation failures become OnException; failures while writing or
// inside handlers become OnError; nothing escapes to the caller.
//
// Threads: the caller of Active/Connect runs the whole activation (the connected hook included);
// the read thread runs reading and, under neNoSync, every event; timers and Start/Stop threads may
// activate or deactivate too. The current connection is shared (std::shared_ptr).

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/TbrzWSComponent.h"
#include "transport/TbrzIdTCPClient.h"
#include "transport/TbrzSSLOptions.h"
#include "websocket/TbrzWSClientOptions.h"
#include "websocket/TbrzWSConnection.h"
#include "websocket/TbrzWSExtensions.h"

namespace brz {

struct TbrzSSLCertificate;

class TbrzWSClient : public TbrzWSComponent_WSClient {
 public:
  TbrzWSClient();
  ~TbrzWSClient() override;

  bool Active() const;
  void SetActive(bool value);
  // Sets Host, Port, TLS, Specifications.RFC6455 and Options.Parameters. A URL whose port is not a
  // number is reported through OnException and changes nothing.
  void SetURL(const std::string& aURL);

  bool Connect(int aTimeout);
  bool Disconnect(int aTimeout);
  bool Connected() const;
  // Activation and deactivation on a short-lived thread.
  void Start();
  void Stop();

  void Ping(const std::string& aText = std::string());
  bool Ping(int aTimeout, const std::string& aText);
  void WriteData(const std::string& aText, int aSize = 0, TwsStreaming aStreaming = TwsStreaming::stmNone) override;
  void WriteData(TbrzMemoryStream& aStream, int aSize = 0, TwsStreaming aStreaming = TwsStreaming::stmNone) override;
  std::string WriteAndWaitData(const std::string& aText, int aTimeout);
  std::shared_ptr<TbrzWSConnectionClient> Connection() const;
  // The watchdog will reopen a lost connection (armed by an activation, disarmed by a deactivation).
  bool WatchDogArmed() const { return FWatchDogEnabled.load(); }

  // Settings read at activation.
  int ConnectTimeout() const { return FConnectTimeout.load(); }
  void SetConnectTimeout(int ms) { FConnectTimeout = ms; }
  int ReadTimeout() const { return FReadTimeout.load(); }
  void SetReadTimeout(int ms) { FReadTimeout = ms; }
  int WriteTimeout() const { return FWriteTimeout.load(); }
  void SetWriteTimeout(int ms) { FWriteTimeout = ms; }
  TwsIPVersion IPVersion() const { return FIPVersion.load(); }
  void SetIPVersion(TwsIPVersion value) { FIPVersion = value; }
  bool UseNagle() const { return FUseNagle.load(); }
  void SetUseNagle(bool value) { FUseNagle = value; }
  void SetBoundPortRange(int aMin, int aMax) {
    FBoundPortMin = aMin;
    FBoundPortMax = aMax;
  }
  TbrzWSProxy_Options& Proxy() { return FProxy; }
  void SetProxy(const TbrzWSProxy_Options& value) { FProxy.Assign(value); }
  TbrzWSOptionsClient& Options() { return FOptions; }
  void SetOptions(const TbrzWSOptionsClient& value) { FOptions.Assign(value); }
  // Hixie-76 is never spoken by this client: reading forces it off.
  TbrzWSSpecifications& Specifications() {
    FSpecifications.Drafts.Hixie76 = false;
    return FSpecifications;
  }
  void SetSpecifications(const TbrzWSSpecifications& value) { FSpecifications.Assign(value); }
  TbrzSocketThrottle& Throttle() { return FThrottle; }
  std::string Version() const;

  // Raised first thing in every activation; may still change any property.
  std::function<void(TbrzWSClient* Sender)> OnBeforeConnect;
  // Before each heartbeat ping and each watchdog reconnect, on the timer's thread. Handled := true
  // skips that ping or reconnect (a skipped reconnect still counts against WatchDog.Attempts).
  std::function<void(TbrzWSClient* Sender, const TbrzConnectionPtr& Connection, bool& Handled)> OnBeforeHeartBeat;
  std::function<void(TbrzWSClient* Sender, bool& Handled)> OnBeforeWatchDog;

  // Compression settings (client mode), copied into each connection at connect time; set them while
  // inactive.
  TbrzWSExtensions& Extensions() { return FExtensions; }
  void SetExtensions(const TbrzWSExtensions& value) { FExtensions.Assign(value); }

  // TLS settings, copied into the handler made at each activation with TLS on.
  TbrzWSTLS_Options& TLSOptions() { return FTLSOptions; }
  void SetTLSOptions(const TbrzWSTLS_Options& value) { FTLSOptions.Assign(value); }
  // The handler of a TLS activation: the one OnSSLGetHandler supplies (used as it is, TLSOptions
  // not applied), else one made from TLSOptions and shown to OnSSLAfterCreateHandler.
  std::shared_ptr<TbrzIOHandler> GetHandlerSSL();
  std::function<void(TbrzWSClient* Sender, std::shared_ptr<TbrzIOHandler>& Handler)> OnSSLGetHandler;
  std::function<void(TbrzWSClient* Sender, const std::shared_ptr<TbrzIOHandler>& Handler)> OnSSLAfterCreateHandler;
  // With verification on, once per certificate of the peer's chain: Result holds the library's
  // verdict, and the value left there decides. Runs on the connecting thread.
  std::function<void(TbrzWSClient* Sender, const TbrzSSLCertificate& Certificate, bool AOk, int ADepth, int AError,
                     bool& Result)>
      OnSSLVerifyPeer;

 protected:
  // TLS seam: the handler used when TLS is on (GetHandlerSSL).
  virtual std::shared_ptr<TbrzIOHandler> CreateTLSHandler();
  // The connection object for a new socket; the WebSocket layer returns one that speaks the
  // handshake and frames.
  virtual std::shared_ptr<TbrzWSConnectionClient> CreateConnection();
  // Outbound parking seam: whether any level is set, and the flush run once per read iteration.
  // Whether the TLS layer is set to TLS 1.3 (raw TCP then reads with a 100 ms time-out).
  virtual bool TLSVersionIs13() const;
  virtual bool HasOutboundQueues() const { return false; }
  virtual void FlushOutboundQueues(const std::shared_ptr<TbrzWSConnectionClient>& /*connection*/) {}

  // A successful connect discards the watchdog and resets its count of tries.
  void RaiseConnectEvent(const TbrzConnectionPtr& C) override;
  void RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code) override;
  void ReleaseConnection(const TbrzConnectionPtr& C) override;
  // Heartbeat: every HeartBeat.Interval seconds while connected a ping, unless an attached protocol
  // keeps the connection alive itself; with HeartBeat.Timeout a connection whose pongs stay away is
  // dropped. Watchdog: every WatchDog.Interval seconds a reconnect on a short-lived thread, at most
  // WatchDog.Attempts times. Stopping never waits (it may run on the tick's own thread).
  void StartHeartBeat() override;
  void StopHeartBeat() override;
  void StartWatchDog() override;
  void StopWatchDog() override;
  // Deactivates without events and joins every thread of the component. The most-derived
  // destructor calls it first, so no thread runs while the object is being torn down.
  void Shutdown();

 private:
  void Activate();
  void Deactivate();
  void HandleConnected();
  void HandleStatus(TbrzSocketStatus status);
  void HandleRead();
  void HandleThread();
  void HandleReadException(const std::exception& e);
  // After a read failure an open OpenSSL session is ended, so nothing more enters it.
  void CloseTLSAfterReadFailure();
  void StopReading(const TbrzConnectionPtr& connection);
  void DeliverDisconnectNotification();
  void Redirect(const std::string& aLocation);
  std::shared_ptr<TbrzIdTCPClient> SocketClient() const;
  // Drops the socket client; one whose read thread is the caller is kept until a later call.
  void DiscardSocketClient();
  void SpawnClientThread(std::function<void()> body);
  // Keep-alive timers (TbrzWSClient_KeepAlive.cpp).
  std::unique_ptr<TbrzTimer> MakeKeepAliveTimer(const char* aName, int32_t aInterval, void (TbrzWSClient::*aTick)());
  void StartHeartBeatTimeout();
  void HeartBeatTick();
  void HeartBeatTimeoutTick();
  void WatchDogTick();
  // Start, for the watchdog: gives up when the application deactivated since the tick.
  void WatchDogStart();
  // The calling thread is activating on behalf of the watchdog.
  static bool IsWatchDogActivation();
  // Terminates the slot's timer and keeps it until its thread has ended (caller holds FTimersLock).
  void RetireTimer(std::unique_ptr<TbrzTimer>& aSlot);
  // Destroys the retired timers whose threads have ended.
  void ReapRetiredTimers();
  // Waits for running ticks and disposes of every keep-alive timer (teardown only).
  void DisposeHeartBeatTimers();

  mutable std::mutex FClientLock;  // guards FSocketClient, FRetiredClients and FConnection
  std::shared_ptr<TbrzIdTCPClient> FSocketClient;
  std::vector<std::shared_ptr<TbrzIdTCPClient>> FRetiredClients;
  std::shared_ptr<TbrzWSConnectionClient> FConnection;

  // Guards FHeartBeatTimer, FHeartBeatTimeoutTimer, FWatchDogTimer and FRetiredTimers. Never held
  // while a timer is destroyed or a tick runs.
  std::mutex FTimersLock;
  std::vector<std::unique_ptr<TbrzTimer>> FRetiredTimers;

  struct TClientThread {
    std::thread Thread;
    std::shared_ptr<std::atomic<bool>> Done;
  };
  std::mutex FThreadsLock;  // guards FClientThreads
  std::vector<TClientThread> FClientThreads;
  // Counts Active := false by anyone; a watchdog reconnect prepared before a deactivation is dropped.
  std::atomic<uint64_t> FDeactivations{0};
  // Lets a reconnect queued to the main thread find out whether the client still exists.
  std::shared_ptr<std::atomic<bool>> FWatchDogToken = std::make_shared<std::atomic<bool>>(true);

  std::atomic<bool> FShutDown{false};
  std::atomic<bool> FConnecting{false};
  std::atomic<bool> FDisconnecting{false};
  std::atomic<bool> FReadingThread{false};
  std::atomic<bool> FThreadStart{false};
  std::atomic<int> FConnectTimeout{0};
  std::atomic<int> FReadTimeout{-1};
  std::atomic<int> FWriteTimeout{0};
  std::atomic<TwsIPVersion> FIPVersion{TwsIPVersion::ipV4};
  std::atomic<bool> FUseNagle{false};
  std::atomic<int> FBoundPortMin{0};
  std::atomic<int> FBoundPortMax{0};
  std::atomic<int> FLingerState{-1};

  TbrzWSProxy_Options FProxy;
  TbrzWSOptionsClient FOptions;
  TbrzWSSpecifications FSpecifications;
  TbrzSocketThrottle FThrottle;
  std::shared_ptr<TbrzIOHandler> FTLSHandler;
  TbrzWSTLS_Options FTLSOptions;
  TbrzWSExtensions FExtensions;
};

// The published client.
class TbrzWebSocketClient : public TbrzWSClient {
 public:
  ~TbrzWebSocketClient() override { Shutdown(); }
};

}  // namespace brz
