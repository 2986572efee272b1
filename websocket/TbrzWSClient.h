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

  void RaiseDisconnectEvent(const TbrzConnectionPtr& C, int32_t Code) override;
  void ReleaseConnection(const TbrzConnectionPtr& C) override;
  // Heartbeat: every HeartBeat.Interval seconds while connected a ping, unless an attached protocol
  // keeps the connection alive itself. Stopping never waits (it may run on the tick's own thread).
  void StartHeartBeat() override;
  void StopHeartBeat() override;
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
  void SpawnClientThread(bool activate);
  void HeartBeatTick();
  // Waits for a running tick and disposes of every heartbeat timer (teardown only).
  void DisposeHeartBeatTimers();

  mutable std::mutex FClientLock;  // guards FSocketClient, FRetiredClients and FConnection
  std::shared_ptr<TbrzIdTCPClient> FSocketClient;
  std::vector<std::shared_ptr<TbrzIdTCPClient>> FRetiredClients;
  std::shared_ptr<TbrzWSConnectionClient> FConnection;

  std::mutex FHeartBeatLock;      // guards FHeartBeatTimer, FRetiredHeartBeatTimers
  std::mutex FHeartBeatTickLock;  // held for the whole of a heartbeat tick
  std::vector<std::unique_ptr<TbrzTimer>> FRetiredHeartBeatTimers;

  std::mutex FThreadsLock;  // guards FClientThreads
  std::vector<std::thread> FClientThreads;

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
