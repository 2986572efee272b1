// The client component with TLS against loopback TLS peers: handlers made from TLSOptions or
// supplied by the application, certificate verification with the test CA, and a read failure of
// an OpenSSL session reported as an exception.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/TestCerts.h"
#include "transport/TLSCertStore.h"
#include "transport/TLSHandlerFactory.h"
#include "transport/TLSMessages.h"
#include "websocket/TbrzWSClient.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::TestCerts;

// Connect, disconnect and exception events in order ("exception <class>: <message>"). Declared
// before the client, so the client (and its read thread) is gone before the list is.
class TLSEvents {
 public:
  void Attach(TbrzWSClient& client) {
    client.OnConnect = [this](const TbrzConnectionPtr&) { Add("connect"); };
    client.OnDisconnect = [this](const TbrzConnectionPtr&, int32_t code) { Add("disconnect " + std::to_string(code)); };
    client.OnError = [this](const TbrzConnectionPtr&, const std::string& e) { Add("error " + e); };
    client.OnException = [this](const TbrzConnectionPtr&, const Exception& e) {
      Add("exception " + e.ClassName() + ": " + e.Message());
    };
  }
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> guard(FLock);
    return FChanged.wait_for(guard, 10s, [&] { return FEvents.size() >= count; });
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> guard(FLock);
    return FEvents;
  }

 private:
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> guard(FLock);
    FEvents.push_back(e);
    FChanged.notify_all();
  }
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::string> FEvents;
};

std::string TcpsURL(int port) { return "tcps://127.0.0.1:" + std::to_string(port); }

TEST(ClientTLS, VerificationWithTheTestCA) {
  const TestCerts& c = TestCerts::Get();
  // The platform handler trusts the files added here (as its "Root" store).
  TLSAddTrustedCAFile(c.CAFile);
  struct Case {
    const char* Name;
    TwsTLSIOHandler IOHandler;
    std::string RootCertFile;
    bool OtherCAServer;  // the server's certificate comes from a CA the client does not trust
    bool HookAccepts;    // OnSSLVerifyPeer overrules every verdict with true
    std::string Event;   // the first event, or the start of it
  };
  const Case cases[] = {
      {"openssl trusted", TwsTLSIOHandler::iohOpenSSL, c.CAFile, false, false, "connect"},
      {"openssl untrusted", TwsTLSIOHandler::iohOpenSSL, c.OtherCAFile, false, false,
       "exception ETLSError: " + FormatMsg(msg::kSSLConnectFailed, "")},
      {"openssl untrusted, hook accepts", TwsTLSIOHandler::iohOpenSSL, c.OtherCAFile, false, true, "connect"},
      {"platform trusted", TwsTLSIOHandler::iohSChannel, "", false, false, "connect"},
      {"platform untrusted root", TwsTLSIOHandler::iohSChannel, "", true, false,
       std::string("exception SChannelError: ") + msg::kSChannelInitError + msg::kSChChainPolicy + "800B0109"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    test::OpenSSLServer server({"-tls1_2"}, k.OtherCAServer ? c.OtherServerCert : "",
                               k.OtherCAServer ? c.OtherServerKey : "");
    TLSEvents events;
    TbrzWebSocketClient client;
    events.Attach(client);
    client.SetURL(TcpsURL(server.Port()));
    client.TLSOptions().IOHandler = k.IOHandler;
    client.TLSOptions().Version = TwsTLSVersions::tls1_2;
    client.TLSOptions().VerifyCertificate = true;
    client.TLSOptions().RootCertFile = k.RootCertFile;
    std::vector<std::string> created;
    client.OnSSLAfterCreateHandler = [&](TbrzWSClient*, const std::shared_ptr<TbrzIOHandler>& h) {
      created.push_back(dynamic_cast<TbrzIdSSLIOHandlerSocketSChannel*>(h.get()) ? "platform" : "openssl");
    };
    bool refusalSeen = false;
    if (k.HookAccepts) {
      client.OnSSLVerifyPeer = [&](TbrzWSClient*, const TbrzSSLCertificate&, bool ok, int, int, bool& result) {
        if (!ok) refusalSeen = true;
        result = true;
      };
    }
    client.SetActive(true);
    ASSERT_TRUE(events.WaitFor(1));
    const std::string first = events.Events()[0];
    EXPECT_EQ(first.substr(0, k.Event.size()), k.Event);
    EXPECT_EQ(created, std::vector<std::string>{k.IOHandler == TwsTLSIOHandler::iohSChannel ? "platform" : "openssl"});
    EXPECT_EQ(refusalSeen, k.HookAccepts);
    client.SetActive(false);
  }
  TLSClearTrustedCAFiles();
}

TEST(ClientTLS, ASuppliedHandlerIsUsedAsItIs) {
  test::OpenSSLServer server({"-tls1_2"});
  TLSEvents events;
  TbrzWebSocketClient client;
  events.Attach(client);
  client.SetURL(TcpsURL(server.Port()));
  // Options that would refuse this server: none of them may reach the supplied handler.
  client.TLSOptions().IOHandler = TwsTLSIOHandler::iohOpenSSL;
  client.TLSOptions().VerifyCertificate = true;
  client.TLSOptions().RootCertFile = TestCerts::Get().OtherCAFile;
  std::shared_ptr<TbrzIdSSLIOHandlerSocketOpenSSL> supplied = CreateOpenSSLClientHandler(TbrzSocketTLS_Options());
  client.OnSSLGetHandler = [&](TbrzWSClient*, std::shared_ptr<TbrzIOHandler>& h) { h = supplied; };
  int afterCreate = 0;
  client.OnSSLAfterCreateHandler = [&](TbrzWSClient*, const std::shared_ptr<TbrzIOHandler>&) { ++afterCreate; };
  EXPECT_TRUE(client.Connect(5000));
  ASSERT_TRUE(events.WaitFor(1));
  EXPECT_EQ(events.Events(), std::vector<std::string>{"connect"});
  EXPECT_TRUE(supplied->HasSession());
  EXPECT_EQ(afterCreate, 0);
  client.SetActive(false);
  EXPECT_FALSE(supplied->HasSession());
}

TEST(ClientTLS, BytesThatAreNoRecordEndTheSessionWithAnException) {
  test::TestListener listener;
  TbrzIdSSLIOHandlerServerOpenSSL server;
  server.CertFile = TestCerts::Get().ServerCert;
  server.KeyFile = TestCerts::Get().ServerKey;
  auto served = std::async(std::launch::async, [&] {
    int fd = listener.Accept(5s);
    if (fd < 0) return;
    auto conn = server.Accept(fd, 5000);
    const std::string garbage = "this is not a TLS record\r\n";
    (void)!::send(fd, garbage.data(), garbage.size(), MSG_NOSIGNAL);
    // Until the client closes (bounded), so the client reads the bytes rather than a reset.
    char buffer[256];
    pollfd p{fd, POLLIN, 0};
    for (int i = 0; i < 50 && ::poll(&p, 1, 100) >= 0; ++i)
      if ((p.revents & POLLIN) && ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) == 0) break;
    conn.reset();
    ::close(fd);
  });
  TLSEvents events;
  TbrzWebSocketClient client;
  events.Attach(client);
  client.SetURL(TcpsURL(listener.Port()));
  std::shared_ptr<TbrzIOHandler> handler;
  client.OnSSLAfterCreateHandler = [&](TbrzWSClient*, const std::shared_ptr<TbrzIOHandler>& h) { handler = h; };
  client.SetActive(true);
  ASSERT_TRUE(events.WaitFor(3));
  const auto seen = events.Events();
  EXPECT_EQ(seen[0], "connect");
  // Reported for the connection, whose copy of the exception keeps the socket-error family only.
  const std::string readFailed = "exception ESocketError: " + FormatMsg(msg::kSSLReadFailed, "");
  EXPECT_EQ(seen[1].substr(0, readFailed.size()), readFailed);
  EXPECT_EQ(seen[2], "disconnect 0");
  ASSERT_TRUE(handler);
  EXPECT_FALSE(handler->Opened());
  served.get();
}

}  // namespace
}  // namespace brz
