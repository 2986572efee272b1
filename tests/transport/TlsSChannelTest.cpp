// The platform handler (on OpenSSL): verification, versions, client certificates from PKCS #12
// files and from the file store by hash, ALPN, records, and its error texts.
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <thread>

#include "tests/support/TestCerts.h"
#include "transport/TLSHandlerFactory.h"
#include "transport/TLSMessages.h"

namespace brz {
namespace {

using test::TestCerts;

constexpr int kTimeoutMs = 5000;
const std::string kInit = msg::kSChannelInitError;

// Connects; "" on success, else the SChannelError text (its chain status in *status).
std::string TryConnect(TbrzIdSSLIOHandlerSocketSChannel& h, int port, const std::string& host = "localhost",
                       int* fd = nullptr, uint32_t* status = nullptr, int timeoutMs = kTimeoutMs) {
  int s = test::ConnectLoopback(port);
  if (s < 0) return "no TCP connection";
  std::string error;
  try {
    h.Connect(s, host, timeoutMs);
  } catch (const SChannelError& e) {
    error = e.what();
    if (status) *status = e.CertStatus();
  }
  if (fd && error.empty()) {
    *fd = s;
  } else {
    h.Close();
    ::close(s);
  }
  return error;
}

class TlsSChannel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { TLSAddTrustedCAFile(TestCerts::Get().CAFile); }
  static void TearDownTestSuite() { TLSClearTrustedCAFiles(); }
  void TearDown() override { TLSSetCertStoreRoot(""); }
};

TEST_F(TlsSChannel, VerificationPassesForTheTargetName) {
  test::OpenSSLServer server({"-tls1_2"});
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  h.Certificate.VerifyCertificate = true;
  EXPECT_EQ(TryConnect(h, server.Port(), "localhost"), "");
  EXPECT_EQ(h.TargetName(), "localhost");
  EXPECT_EQ(TryConnect(h, server.Port(), "127.0.0.1"), "");
}

TEST_F(TlsSChannel, VerificationFailsForAWrongName) {
  test::OpenSSLServer server({"-tls1_2"});
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  h.Certificate.VerifyCertificate = true;
  uint32_t status = 0;
  EXPECT_EQ(TryConnect(h, server.Port(), "wrong.example", nullptr, &status),
            kInit + msg::kSChChainPolicy + "800B010F");
  EXPECT_EQ(status, kCertECNNoMatch);
  EXPECT_FALSE(h.Connected());
  // URIToCheck names the host that must match instead of the connected one.
  h.URIToCheck = "wss://localhost:443/mqtt";
  EXPECT_EQ(TryConnect(h, server.Port(), "wrong.example"), "");
}

TEST_F(TlsSChannel, UntrustedRootFailsUnlessAHandlerAcceptsIt) {
  const TestCerts& c = TestCerts::Get();
  test::OpenSSLServer server({"-tls1_2"}, c.OtherServerCert, c.OtherServerKey);
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  h.Certificate.VerifyCertificate = true;
  EXPECT_EQ(TryConnect(h, server.Port()), kInit + msg::kSChChainPolicy + "800B0109");
  int id = TLSRegisterTrustedRootHandler([](const std::vector<TbrzSSLCertificate>& chain) {
    return !chain.empty() && chain.back().Issuer.find("brz other CA") != std::string::npos;
  });
  EXPECT_EQ(TryConnect(h, server.Port()), "");
  EXPECT_EQ(TryConnect(h, server.Port(), "wrong.example"), kInit + msg::kSChChainPolicy + "800B010F");
  TLSUnregisterTrustedRootHandler(id);
}

TEST_F(TlsSChannel, WithoutVerificationAnyServerIsAccepted) {
  const TestCerts& c = TestCerts::Get();
  test::OpenSSLServer server({"-tls1_2"}, c.OtherServerCert, c.OtherServerKey);
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  EXPECT_EQ(TryConnect(h, server.Port(), "wrong.example"), "");
}

TEST_F(TlsSChannel, LegacyVersionTable) {
  if (!test::OpenSSLSupports("-tls1")) GTEST_SKIP();
  test::OpenSSLServer v13({"-tls1_3"});
  test::OpenSSLServer v12({"-tls1_2"});
  test::OpenSSLServer v10({"-tls1", "-cipher", "DEFAULT:@SECLEVEL=0"});
  TbrzIdSSLIOHandlerSocketSChannel h;
  for (TwsTLSVersions v : {TwsTLSVersions::tls1_2, TwsTLSVersions::tls1_3}) {
    h.TLSVersion = v;
    EXPECT_EQ(TryConnect(h, v13.Port()), kInit + msg::kSChInitialize + "80090302");
    int fd = -1;
    ASSERT_EQ(TryConnect(h, v12.Port(), "localhost", &fd), "");
    auto info = h.GetInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->Protocol, TwsTLSVersions::tls1_2);
    EXPECT_GT(info->CiperStrength, 0u);
    h.Close();
    ::close(fd);
    EXPECT_FALSE(h.GetInfo().has_value());
  }
  TbrzIdSSLIOHandlerSocketSChannel fresh;  // tls1_0 by default
  EXPECT_EQ(TryConnect(fresh, v10.Port()), "");
  EXPECT_NE(TryConnect(fresh, v12.Port()), "");
  fresh.TLSVersion = TwsTLSVersions::tlsUndefined;
  EXPECT_EQ(TryConnect(fresh, v10.Port()), "");
  EXPECT_EQ(TryConnect(fresh, v12.Port()), "");
  EXPECT_NE(TryConnect(fresh, v13.Port()), "");
}

TEST_F(TlsSChannel, CipherListRestrictsTheSession) {
  test::OpenSSLServer server({"-tls1_2"});
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  h.CipherList = "CALG_AES_256:CALG_NOT_LISTED";
  int fd = -1;
  ASSERT_EQ(TryConnect(h, server.Port(), "localhost", &fd), "");
  auto info = h.GetInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->Cipher, "CALG_AES_256");
  EXPECT_EQ(info->CiperStrength, 256u);
  h.Close();
  ::close(fd);
}

TEST_F(TlsSChannel, ClientCertificateFromPKCS12) {
  const TestCerts& c = TestCerts::Get();
  test::OpenSSLServer server({"-tls1_2", "-Verify", "2", "-CAfile", c.CAFile});
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  // No certificate configured and none in the store: the handshake goes on and the server refuses.
  TLSSetCertStoreRoot(c.Dir + "/no-store");
  EXPECT_EQ(TryConnect(h, server.Port()).rfind(kInit + msg::kSChInitialize, 0), 0u);
  h.Certificate.CertFile = c.ClientP12;
  h.Certificate.CertFilePassword = TestCerts::kClientP12Password;
  EXPECT_EQ(TryConnect(h, server.Port()), "");
  h.Certificate.CertFilePassword = "wrong";
  EXPECT_EQ(TryConnect(h, server.Port()), kInit + msg::kSChCannotImport);
  // An empty password also tries "no password".
  h.Certificate.CertFile = c.ClientP12NoPassword;
  h.Certificate.CertFilePassword = "";
  EXPECT_EQ(TryConnect(h, server.Port()), "");
}

TEST_F(TlsSChannel, CertHashRules) {
  const TestCerts& c = TestCerts::Get();
  test::OpenSSLServer server({"-tls1_2", "-Verify", "2", "-CAfile", c.CAFile});
  test::TempDir root;
  TLSSetCertStoreRoot(root.Path());
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  h.Certificate.CertHash = std::string(39, 'A');
  EXPECT_EQ(TryConnect(h, server.Port()), "SChannel initialization error: Invalid Certificate Hash Length, must be 40.");
  h.Certificate.CertHash = c.ClientThumbprint;
  EXPECT_EQ(TryConnect(h, server.Port()), kInit + msg::kSChCannotOpenStore);
  std::string my = root.Path() + "/CurrentUser/MY";
  std::filesystem::create_directories(my);
  h.Certificate.CertHash = std::string(39, 'A') + "Z";
  EXPECT_EQ(TryConnect(h, server.Port()), kInit + msg::kSChCryptStringToBinary);
  h.Certificate.CertHash = c.ClientThumbprint;
  EXPECT_EQ(TryConnect(h, server.Port()),
            kInit + "Certificate not found in Store MY with Hash " + c.ClientThumbprint);
  std::filesystem::copy_file(c.ClientCert, my + "/client.pem");
  std::filesystem::copy_file(c.ClientKey, my + "/client.key");
  EXPECT_EQ(TryConnect(h, server.Port()), "");
  // The same certificate as a PKCS #12 file in another store of the machine location.
  std::string ca = root.Path() + "/LocalMachine/CA";
  std::filesystem::create_directories(ca);
  std::filesystem::copy_file(c.ClientP12NoPassword, ca + "/client.p12");
  h.Certificate.CertStoreName = TbrzSChannelCertStoreName::scsnCA;
  h.Certificate.CertStorePath = TbrzSChannelCertStorePath::scspStoreLocalMachine;
  EXPECT_EQ(TryConnect(h, server.Port()), "");
}

TEST_F(TlsSChannel, AutomaticSelectionByTheServersIssuers) {
  const TestCerts& c = TestCerts::Get();
  test::TempDir root;
  TLSSetCertStoreRoot(root.Path());
  std::string my = root.Path() + "/CurrentUser/MY";
  std::filesystem::create_directories(my);
  std::filesystem::copy_file(c.ClientP12NoPassword, my + "/client.p12");
  test::OpenSSLServer server({"-tls1_2", "-Verify", "2", "-CAfile", c.CAFile});
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  int credentials = 0;
  h.OnCredentials = [&] { ++credentials; };
  EXPECT_EQ(TryConnect(h, server.Port()), "");
  EXPECT_GE(credentials, 2);  // before credentials, and before the automatic choice
}

TEST_F(TlsSChannel, ALPNOffer) {
  test::OpenSSLServer server({"-tls1_2", "-alpn", "mqtt"});
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  h.ALPNProtocols = {"", "mqtt", "http/1.1"};
  int fd = -1;
  ASSERT_EQ(TryConnect(h, server.Port(), "localhost", &fd), "");
  EXPECT_EQ(h.GetALPNProtocol(), "mqtt");
  h.Close();
  ::close(fd);
}

TEST_F(TlsSChannel, RecordsAndSmallReads) {
  test::TestListener listener;
  TbrzIdSSLIOHandlerServerOpenSSL server;
  server.CertFile = TestCerts::Get().ServerCert;
  server.KeyFile = TestCerts::Get().ServerKey;
  const size_t kSize = 100 * 1024;
  std::string payload(kSize, 'x');
  auto served = std::async(std::launch::async, [&] {
    int fd = listener.Accept();
    auto conn = server.Accept(fd, kTimeoutMs);
    std::string got;
    size_t largest = 0;
    std::vector<char> buffer(65536);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < kSize && std::chrono::steady_clock::now() < deadline) {
      if (!conn->Readable(50)) continue;
      ssize_t n = conn->Read(buffer.data(), buffer.size());
      if (n > 0) {
        got.append(buffer.data(), static_cast<size_t>(n));
        largest = std::max(largest, static_cast<size_t>(n));
      }
    }
    std::string reply = "0123456789abcdefghij";
    conn->Write(reply.data(), reply.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    conn->Close();
    ::close(fd);
    return std::make_pair(got.size(), largest);
  });
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  int fd = -1;
  EXPECT_FALSE(h.Connected());
  ASSERT_EQ(TryConnect(h, listener.Port(), "localhost", &fd), "");
  EXPECT_TRUE(h.Connected());
  h.Write(payload.data(), payload.size());
  // One record of 20 bytes read in pieces of 5: after the first read the socket is not touched.
  ASSERT_TRUE(h.Readable(kTimeoutMs));
  char piece[5];
  ssize_t n = -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (n < 0 && std::chrono::steady_clock::now() < deadline) {
    h.Readable(50);
    n = h.Read(piece, sizeof piece);
  }
  ASSERT_EQ(n, 5);
  std::string got(piece, 5);
  uint64_t wire = h.WireBytesReceived();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(h.Read(piece, sizeof piece), 5);
    got.append(piece, 5);
  }
  EXPECT_EQ(h.WireBytesReceived(), wire);
  EXPECT_EQ(got, "0123456789abcdefghij");
  auto [total, largest] = served.get();
  EXPECT_EQ(total, kSize);
  EXPECT_LE(largest, h.MaxMessageSize());
  // The server ends its session: the next reads report the close.
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    h.Readable(50);
    if (h.Read(piece, sizeof piece) == 0) break;
  }
  EXPECT_EQ(h.LastError(), msg::kSChDecryptExpired);
  h.Close();
  EXPECT_FALSE(h.Connected());
  ::close(fd);
}

TEST_F(TlsSChannel, PlainPeerGivesCleanErrors) {
  struct Case {
    std::string Answer;
    bool Silent;
    std::string Expect;
  };
  for (const Case& c : {Case{"HTTP/1.1 400 Bad Request\r\n\r\n", false, kInit + msg::kSChInitialize + "80090326"},
                        Case{"", false, kInit + msg::kSChRecvReturns + "00000000"},
                        Case{"", true, kInit + msg::kSChRecvReturns + "0000006E"}}) {
    test::TestListener listener;
    std::thread peer(test::ServePlainPeer, std::ref(listener), c.Answer, c.Silent);
    TbrzIdSSLIOHandlerSocketSChannel h;
    h.TLSVersion = TwsTLSVersions::tls1_2;
    auto start = std::chrono::steady_clock::now();
    std::string error = TryConnect(h, listener.Port(), "localhost", nullptr, nullptr, 300);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    peer.join();
    EXPECT_EQ(error, c.Expect);
    EXPECT_EQ(TLSSChannelLastError(), c.Expect.substr(kInit.size()));
  }
}

TEST_F(TlsSChannel, PassThroughThenStartSSL) {
  test::OpenSSLServer server({"-tls1_2"});
  TbrzIdSSLIOHandlerSocketSChannel h;
  h.TLSVersion = TwsTLSVersions::tls1_2;
  h.SetPassThrough(true);
  int fd = test::ConnectLoopback(server.Port());
  ASSERT_GE(fd, 0);
  h.Connect(fd, "localhost", kTimeoutMs);
  EXPECT_TRUE(h.Connected());
  EXPECT_FALSE(h.HasSession());
  h.SetPassThrough(false);  // starts the session
  EXPECT_TRUE(h.HasSession());
  h.Close();
  ::close(fd);
}

}  // namespace
}  // namespace brz
