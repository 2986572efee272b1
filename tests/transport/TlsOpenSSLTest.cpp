// The OpenSSL client and server handlers against `openssl s_server` / `s_client` and each other,
// over loopback sockets.
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/support/TestCerts.h"
#include "transport/TLSHandlerFactory.h"
#include "transport/TLSMessages.h"
#include "transport/TbrzSocket.h"

namespace brz {
namespace {

using test::TestCerts;

constexpr int kTimeoutMs = 5000;

// Connects handler to 127.0.0.1:port with host as the TLS name; "" on success, else the error
// text. The descriptor stays with *fd (closed by the caller) when fd is given.
std::string TryConnect(TbrzIOHandler& handler, int port, const std::string& host = "localhost", int* fd = nullptr,
                       int timeoutMs = kTimeoutMs) {
  int s = test::ConnectLoopback(port);
  if (s < 0) return "no TCP connection";
  std::string error;
  try {
    handler.Connect(s, host, timeoutMs);
  } catch (const std::exception& e) {
    error = e.what();
    if (error.empty()) error = "empty error";
  }
  if (fd && error.empty()) {
    *fd = s;
  } else {
    handler.Close();
    ::close(s);
  }
  return error;
}

TbrzSocketTLS_Options VerifyingOptions() {
  TbrzSocketTLS_Options o;
  o.VerifyCertificate = true;
  o.VerifyDepth = 4;
  o.RootCertFile = TestCerts::Get().CAFile;
  return o;
}

// Reads exactly size bytes (waiting with Readable) within timeoutMs; returns what was read.
std::string ReadExactly(TbrzIOHandler& h, size_t size, int timeoutMs = kTimeoutMs, size_t chunk = 65536) {
  std::string out;
  std::vector<char> buffer(chunk);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < size && std::chrono::steady_clock::now() < deadline) {
    if (h.Pending() == 0 && !h.Readable(50)) continue;
    ssize_t n = h.Read(buffer.data(), std::min(buffer.size(), size - out.size()));
    if (n == 0) break;
    if (n > 0) out.append(buffer.data(), static_cast<size_t>(n));
  }
  return out;
}

TEST(TlsOpenSSLClient, VerificationPassesForTheRightHostName) {
  test::OpenSSLServer server({"-tls1_2"});
  auto h = CreateOpenSSLClientHandler(VerifyingOptions());
  EXPECT_EQ(TryConnect(*h, server.Port(), "localhost"), "");
  auto h2 = CreateOpenSSLClientHandler(VerifyingOptions());
  EXPECT_EQ(TryConnect(*h2, server.Port(), "127.0.0.1"), "");
}

TEST(TlsOpenSSLClient, VerificationFailsForAWrongHostName) {
  test::OpenSSLServer server({"-tls1_2"});
  auto h = CreateOpenSSLClientHandler(VerifyingOptions());
  std::string error = TryConnect(*h, server.Port(), "wrong.example");
  EXPECT_EQ(error.rfind("Error connecting with SSL.\n", 0), 0u) << error;
  EXPECT_NE(error.find("certificate verify failed"), std::string::npos) << error;
  EXPECT_NE(error.find("hostname mismatch"), std::string::npos) << error;
  EXPECT_FALSE(h->Opened());
}

TEST(TlsOpenSSLClient, VerificationFailsForAnUnknownCA) {
  const TestCerts& c = TestCerts::Get();
  test::OpenSSLServer server({"-tls1_2"}, c.OtherServerCert, c.OtherServerKey);
  auto h = CreateOpenSSLClientHandler(VerifyingOptions());
  std::string error = TryConnect(*h, server.Port(), "localhost");
  EXPECT_NE(error.find("certificate verify failed"), std::string::npos) << error;
}

TEST(TlsOpenSSLClient, VerifyPeerHookDecides) {
  test::OpenSSLServer server({"-tls1_2"});
  std::vector<int> depths;
  auto accept = [&](const TbrzSSLCertificate& cert, bool, int depth, int, bool& result) {
    depths.push_back(depth);
    EXPECT_FALSE(cert.Subject.empty());
    result = true;
  };
  auto h = CreateOpenSSLClientHandler(VerifyingOptions(), accept);
  EXPECT_EQ(TryConnect(*h, server.Port(), "wrong.example"), "");
  EXPECT_FALSE(depths.empty());
  auto refuse = [](const TbrzSSLCertificate&, bool, int, int, bool& result) { result = false; };
  auto h2 = CreateOpenSSLClientHandler(VerifyingOptions(), refuse);
  EXPECT_NE(TryConnect(*h2, server.Port(), "localhost"), "");
}

TEST(TlsOpenSSLClient, VerifyDepthZeroReachesTheLibrary) {
  test::OpenSSLServer server({"-tls1_2"});
  TbrzSocketTLS_Options o = VerifyingOptions();
  o.VerifyDepth = 0;
  auto h = CreateOpenSSLClientHandler(o);
  TryConnect(*h, server.Port());
  ASSERT_NE(h->Context(), nullptr);
  EXPECT_EQ(SSL_CTX_get_verify_depth(h->Context()), 0);
  EXPECT_EQ(SSL_CTX_get_verify_mode(h->Context()), SSL_VERIFY_PEER);
}

struct VersionCase {
  TwsTLSVersions Client;
  const char* ServerSwitch;
  bool Connects;
  int Negotiated;
};

class TlsOpenSSLVersions : public ::testing::TestWithParam<VersionCase> {};

TEST_P(TlsOpenSSLVersions, AgainstSServerLimitedToOneVersion) {
  const VersionCase& c = GetParam();
  if (!test::OpenSSLSupports(c.ServerSwitch)) GTEST_SKIP() << "openssl lacks " << c.ServerSwitch;
  test::OpenSSLServer server({c.ServerSwitch, "-cipher", "DEFAULT:@SECLEVEL=0"});
  TbrzSocketTLS_Options o;
  o.Version = c.Client;
  auto h = CreateOpenSSLClientHandler(o);
  int fd = -1;
  std::string error = TryConnect(*h, server.Port(), "localhost", &fd);
  if (c.Connects) {
    ASSERT_EQ(error, "");
    EXPECT_EQ(h->ProtocolVersion(), c.Negotiated);
    h->Close();
    ::close(fd);
  } else {
    EXPECT_EQ(error.rfind("Error connecting with SSL.\n", 0), 0u) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TlsOpenSSLVersions,
    ::testing::Values(VersionCase{TwsTLSVersions::tls1_2, "-tls1_2", true, TLS1_2_VERSION},
                      VersionCase{TwsTLSVersions::tls1_2, "-tls1_3", false, 0},
                      VersionCase{TwsTLSVersions::tls1_3, "-tls1_2", true, TLS1_2_VERSION},
                      VersionCase{TwsTLSVersions::tls1_3, "-tls1_3", false, 0},
                      VersionCase{TwsTLSVersions::tlsUndefined, "-tls1_2", true, TLS1_2_VERSION},
                      VersionCase{TwsTLSVersions::tlsUndefined, "-tls1_1", true, TLS1_1_VERSION},
                      VersionCase{TwsTLSVersions::tlsUndefined, "-tls1", true, TLS1_VERSION},
                      VersionCase{TwsTLSVersions::tlsUndefined, "-tls1_3", false, 0},
                      VersionCase{TwsTLSVersions::tls1_0, "-tls1", true, TLS1_VERSION},
                      VersionCase{TwsTLSVersions::tls1_0, "-tls1_2", false, 0},
                      VersionCase{TwsTLSVersions::tls1_1, "-tls1_1", true, TLS1_1_VERSION},
                      VersionCase{TwsTLSVersions::tls1_1, "-tls1_2", false, 0}));

TEST(TlsOpenSSLClient, ClientCertificateAcceptedAndMissingOneRefused) {
  const TestCerts& c = TestCerts::Get();
  test::OpenSSLServer server({"-tls1_2", "-Verify", "2", "-CAfile", c.CAFile});
  TbrzSocketTLS_Options o;
  o.CertFile = c.ClientCert;
  o.KeyFile = c.ClientKey;
  auto with = CreateOpenSSLClientHandler(o);
  EXPECT_EQ(TryConnect(*with, server.Port()), "");
  auto without = CreateOpenSSLClientHandler(TbrzSocketTLS_Options());
  std::string error = TryConnect(*without, server.Port());
  EXPECT_EQ(error.rfind("Error connecting with SSL.\n", 0), 0u) << error;
}

TEST(TlsOpenSSLClient, PassPhraseUnlocksTheKey) {
  const TestCerts& c = TestCerts::Get();
  test::OpenSSLServer server({"-tls1_2", "-Verify", "2", "-CAfile", c.CAFile});
  TbrzSocketTLS_Options o;
  o.CertFile = c.ClientCert;
  o.KeyFile = c.ClientKeyEncrypted;
  o.Password = TestCerts::kClientKeyPassword;
  auto h = CreateOpenSSLClientHandler(o);
  EXPECT_EQ(TryConnect(*h, server.Port()), "");
  o.Password = "wrong";
  auto bad = CreateOpenSSLClientHandler(o);
  std::string error = TryConnect(*bad, server.Port());
  EXPECT_EQ(error.rfind("Could not load key, check password.", 0), 0u) << error;
}

// Our server handler on a listener; the accepted connection runs on a thread.
struct ServerSide {
  test::TestListener Listener;
  TbrzIdSSLIOHandlerServerOpenSSL Handler;
  ServerSide() {
    const TestCerts& c = TestCerts::Get();
    Handler.CertFile = c.ServerCert;
    Handler.KeyFile = c.ServerKey;
  }
  // Accepts one connection and runs body on it; the future carries "" or the error text.
  std::future<std::string> Serve(std::function<void(TbrzIOHandler&)> body, int timeoutMs = kTimeoutMs) {
    return std::async(std::launch::async, [this, body, timeoutMs] {
      int fd = Listener.Accept(std::chrono::milliseconds(timeoutMs));
      if (fd < 0) return std::string("no connection");
      std::string error;
      try {
        auto conn = Handler.Accept(fd, timeoutMs);
        body(*conn);
        conn->Close();
      } catch (const std::exception& e) {
        error = e.what();
      }
      ::close(fd);
      return error;
    });
  }
};

TEST(TlsOpenSSLServer, RoundTripWithOurClientAndBufferedRecords) {
  ServerSide server;
  const size_t kSize = 100 * 1024;
  std::string payload(kSize, '\0');
  for (size_t i = 0; i < kSize; ++i) payload[i] = static_cast<char>('a' + i % 26);
  auto done = server.Serve([&](TbrzIOHandler& conn) {
    // A small first read leaves the rest of the record decrypted inside the handler.
    char first[100];
    ASSERT_TRUE(conn.Readable(kTimeoutMs));
    ssize_t n = -1;
    while (n < 0) n = conn.Read(first, sizeof first);
    ASSERT_EQ(n, 100);
    EXPECT_GT(conn.Pending(), 0u);
    EXPECT_TRUE(conn.Readable(0));
    std::string got(first, 100);
    got += ReadExactly(conn, kSize - 100);
    EXPECT_EQ(got, payload);
    conn.Write(got.data(), got.size());
  });
  auto client = CreateOpenSSLClientHandler(VerifyingOptions());
  int fd = -1;
  ASSERT_EQ(TryConnect(*client, server.Listener.Port(), "localhost", &fd), "");
  EXPECT_EQ(client->Pending(), 0u);
  client->Write(payload.data(), payload.size());
  EXPECT_EQ(ReadExactly(*client, kSize), payload);
  EXPECT_EQ(done.get(), "");
  client->Close();
  ::close(fd);
}

TEST(TlsOpenSSLServer, SClientRoundTrip) {
  ServerSide server;
  test::TempDir dir;
  dir.Write("in.txt", "hello from s_client\n");
  auto done = server.Serve([&](TbrzIOHandler& conn) {
    EXPECT_EQ(ReadExactly(conn, 20), "hello from s_client\n");
    std::string reply = "hello from brz\n";
    conn.Write(reply.data(), reply.size());
  });
  std::string cmd = "timeout 20 openssl s_client -connect 127.0.0.1:" + std::to_string(server.Listener.Port()) +
                    " -quiet -CAfile " + TestCerts::Get().CAFile + " < " + dir.File("in.txt") + " 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buffer[256];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  ::pclose(p);
  EXPECT_EQ(done.get(), "");
  EXPECT_NE(out.find("hello from brz"), std::string::npos) << out;
}

TEST(TlsOpenSSLServer, RequiresClientCertificates) {
  const TestCerts& c = TestCerts::Get();
  ServerSide server;
  server.Handler.RootCertFile = c.CAFile;
  server.Handler.VerifyPeer = true;
  server.Handler.FailIfNoPeerCertificate = true;
  auto ok = server.Serve([](TbrzIOHandler&) {});
  TbrzSocketTLS_Options o;
  o.CertFile = c.ClientCert;
  o.KeyFile = c.ClientKey;
  auto with = CreateOpenSSLClientHandler(o);
  EXPECT_EQ(TryConnect(*with, server.Listener.Port()), "");
  EXPECT_EQ(ok.get(), "");

  auto refused = server.Serve([](TbrzIOHandler&) {});
  auto without = CreateOpenSSLClientHandler(TbrzSocketTLS_Options());
  EXPECT_NE(TryConnect(*without, server.Listener.Port()), "");
  std::string serverError = refused.get();
  EXPECT_EQ(serverError.rfind("Error accepting connection with SSL.\n", 0), 0u) << serverError;
}

TEST(TlsOpenSSLServer, VersionLimitedServerRefusesOtherVersions) {
  ServerSide server;
  server.Handler.Versions = TLSServerVersionRange(TwsTLSVersions::tls1_1);
  auto refused = server.Serve([](TbrzIOHandler&) {});
  TbrzSocketTLS_Options o;
  o.Version = TwsTLSVersions::tls1_2;
  auto h = CreateOpenSSLClientHandler(o);
  EXPECT_NE(TryConnect(*h, server.Listener.Port()), "");
  EXPECT_NE(refused.get(), "");
}

TEST(TlsPlainPeer, ClientGetsACleanHandshakeErrorNeverAHang) {
  struct Case {
    std::string Answer;
    bool Silent;
    const char* Expect;
  };
  for (const Case& c : {Case{"HTTP/1.1 400 Bad Request\r\n\r\n", false, "Error connecting with SSL.\n"},
                        Case{"", false, msg::kSSLPeerClosed}, Case{"", true, msg::kSSLHandshakeTimeout}}) {
    test::TestListener listener;
    std::thread peer(test::ServePlainPeer, std::ref(listener), c.Answer, c.Silent);
    auto h = CreateOpenSSLClientHandler(TbrzSocketTLS_Options());
    auto start = std::chrono::steady_clock::now();
    std::string error = TryConnect(*h, listener.Port(), "localhost", nullptr, 300);
    auto elapsed = std::chrono::steady_clock::now() - start;
    peer.join();
    EXPECT_NE(error.find(c.Expect), std::string::npos) << error;
    EXPECT_LT(elapsed, std::chrono::seconds(3));
  }
}

TEST(TlsPlainPeer, ServerGetsACleanHandshakeErrorNeverAHang) {
  for (bool silent : {false, true}) {
    ServerSide server;
    auto done = server.Serve([](TbrzIOHandler&) {}, 300);
    int fd = test::ConnectLoopback(server.Listener.Port());
    ASSERT_GE(fd, 0);
    if (!silent) {
      std::string request = "GET / HTTP/1.0\r\n\r\n";
      (void)!::write(fd, request.data(), request.size());
    }
    auto start = std::chrono::steady_clock::now();
    std::string error = done.get();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    ::close(fd);
    EXPECT_EQ(error.rfind("Error accepting connection with SSL.\n", 0), 0u) << error;
    if (silent) {
      EXPECT_NE(error.find(msg::kSSLHandshakeTimeout), std::string::npos) << error;
    }
  }
}

TEST(TlsSocketAdapter, ClientAndServerThroughTbrzSocket) {
  test::TestListener listener;
  TbrzIdSSLIOHandlerServerOpenSSL serverHandler;
  serverHandler.CertFile = TestCerts::Get().ServerCert;
  serverHandler.KeyFile = TestCerts::Get().ServerKey;
  auto served = std::async(std::launch::async, [&] {
    int fd = listener.Accept();
    TbrzSocket socket;
    socket.SetIOHandler(serverHandler.MakeConnectionHandler());
    socket.Attach(fd);
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < 4 && std::chrono::steady_clock::now() < deadline) {
      if (socket.WaitForData(10)) {
        TBytes b = socket.ReadBuffered(socket.BufferedCount());
        got.append(b.begin(), b.end());
      }
    }
    socket.WriteBytes(reinterpret_cast<const uint8_t*>("pong"), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    socket.Disconnect();
    return got;
  });
  TbrzSocket client;
  client.Host = "127.0.0.1";
  client.Port = listener.Port();
  client.ConnectTimeout = kTimeoutMs;
  client.SetIOHandler(CreateClientTLSHandler(VerifyingOptions()));
  client.Connect();
  client.WriteBytes(reinterpret_cast<const uint8_t*>("ping"), 4);
  std::string got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.size() < 4 && std::chrono::steady_clock::now() < deadline) {
    if (client.WaitForData(10)) {
      TBytes b = client.ReadBuffered(client.BufferedCount());
      got.append(b.begin(), b.end());
    }
  }
  EXPECT_EQ(got, "pong");
  EXPECT_EQ(served.get(), "ping");
  client.Disconnect();
}

}  // namespace
}  // namespace brz
