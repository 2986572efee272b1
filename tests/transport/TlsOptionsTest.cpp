// Option groups, version tables, the algorithm table and the handler factory.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include "transport/TLSHandlerFactory.h"
#include "transport/TLSMessages.h"

namespace brz {
namespace {

TEST(TlsOptions, Defaults) {
  TbrzSocketTLS_Options o;
  EXPECT_TRUE(o.CertFile.empty());
  EXPECT_TRUE(o.Password.empty());
  EXPECT_FALSE(o.VerifyCertificate);
  EXPECT_EQ(o.VerifyDepth, 0);
  EXPECT_EQ(o.Version, TwsTLSVersions::tlsUndefined);
  EXPECT_EQ(o.IOHandler, TwsTLSIOHandler::iohOpenSSL);
  EXPECT_EQ(o.OpenSSL_Options.APIVersion, TwsOpenSSLAPI::oslAPI_1_0);
  EXPECT_EQ(o.OpenSSL_Options.LibPath, TwsOpenSSLLibPath::oslpNone);
  EXPECT_EQ(o.OpenSSL_Options.UnixSymLinks, TwsOpenSSLSymLinks::oslsSymLinksDefault);
  EXPECT_EQ(o.SChannel_Options.CertStoreName, TbrzSChannelCertStoreName::scsnMY);
  EXPECT_EQ(o.SChannel_Options.CertStorePath, TbrzSChannelCertStorePath::scspStoreCurrentUser);
  TbrzWSSSL_Options s;
  EXPECT_EQ(s.Port, 0);
  EXPECT_FALSE(s.OpenSSL_Options.ECDHE);
  EXPECT_TRUE(s.OpenSSL_Options.CipherList.empty());
  EXPECT_FALSE(s.VerifyCertificate_Options.FailIfNoCertificate);
  EXPECT_FALSE(s.VerifyCertificate_Options.VerifyClientOnce);
}

TEST(TlsOptions, AssignedCopyIsIndependent) {
  TbrzSocketTLS_Options a;
  a.CertFile = "a.pem";
  a.ALPNProtocols = {"mqtt"};
  a.SChannel_Options.CertHash = "AB";
  a.Version = TwsTLSVersions::tls1_2;
  TbrzSocketTLS_Options b;
  b.Assign(a);
  a.CertFile = "changed";
  a.ALPNProtocols.push_back("http/1.1");
  a.SChannel_Options.CertHash = "CD";
  EXPECT_EQ(b.CertFile, "a.pem");
  EXPECT_EQ(b.ALPNProtocols, std::vector<std::string>{"mqtt"});
  EXPECT_EQ(b.SChannel_Options.CertHash, "AB");
  EXPECT_EQ(b.Version, TwsTLSVersions::tls1_2);

  TbrzWSSSL_Options s;
  s.OpenSSL_Options.CipherList = "AES128-SHA";
  s.VerifyCertificate_Options.FailIfNoCertificate = true;
  TbrzWSSSL_Options t;
  t.Assign(s);
  s.OpenSSL_Options.CipherList.clear();
  s.VerifyCertificate_Options.FailIfNoCertificate = false;
  EXPECT_EQ(t.OpenSSL_Options.CipherList, "AES128-SHA");
  EXPECT_TRUE(t.VerifyCertificate_Options.FailIfNoCertificate);
}

TEST(TlsVersionTable, Client) {
  using R = TbrzSSLVersionRange;
  EXPECT_EQ(TLSClientVersionRange(TwsTLSVersions::tls1_0), (R{TLS1_VERSION, TLS1_VERSION}));
  EXPECT_EQ(TLSClientVersionRange(TwsTLSVersions::tls1_1), (R{TLS1_1_VERSION, TLS1_1_VERSION}));
  EXPECT_EQ(TLSClientVersionRange(TwsTLSVersions::tls1_2), (R{TLS1_2_VERSION, TLS1_2_VERSION}));
  EXPECT_EQ(TLSClientVersionRange(TwsTLSVersions::tls1_3), (R{TLS1_2_VERSION, TLS1_2_VERSION}));
  EXPECT_EQ(TLSClientVersionRange(TwsTLSVersions::tlsUndefined), (R{TLS1_VERSION, TLS1_2_VERSION}));
  EXPECT_EQ(TLSServerVersionRange(TwsTLSVersions::tls1_3), (R{TLS1_2_VERSION, TLS1_2_VERSION}));
  EXPECT_EQ(TLSServerVersionRange(TwsTLSVersions::tlsUndefined), (R{0, 0}));
  EXPECT_EQ(TLSLegacyVersionRange(TwsTLSVersions::tls1_3), (R{TLS1_2_VERSION, TLS1_2_VERSION}));
  EXPECT_EQ(TLSLegacyVersionRange(TwsTLSVersions::tlsUndefined), (R{TLS1_VERSION, TLS1_2_VERSION}));
}

TEST(TlsVersionTable, SecurityLevelZeroOnlyWhereOldVersionsAreAllowed) {
  TbrzSSLCtxPtr old = TLSNewContext(TLS_client_method());
  ASSERT_TRUE(TLSApplyVersionRange(old.get(), TLSClientVersionRange(TwsTLSVersions::tlsUndefined)));
  EXPECT_EQ(SSL_CTX_get_security_level(old.get()), 0);
  TbrzSSLCtxPtr fresh = TLSNewContext(TLS_client_method());
  int defaultLevel = SSL_CTX_get_security_level(fresh.get());
  ASSERT_TRUE(TLSApplyVersionRange(fresh.get(), TLSClientVersionRange(TwsTLSVersions::tls1_2)));
  EXPECT_EQ(SSL_CTX_get_security_level(fresh.get()), defaultLevel);
  EXPECT_EQ(SSL_CTX_get_max_proto_version(fresh.get()), TLS1_2_VERSION);
}

TEST(TlsServerCiphers, ECDHEWithEmptyListGivesTheLibraryDefault) {
  TbrzSSLCtxPtr fresh = TLSNewContext(TLS_server_method());
  TbrzIdSSLIOHandlerServerOpenSSL server;
  server.ECDHE = true;
  server.Init();
  EXPECT_EQ(TLSCipherListText(server.Context()), TLSCipherListText(fresh.get()));
}

TEST(TlsServerCiphers, CipherListOverridesThePreset) {
  TbrzIdSSLIOHandlerServerOpenSSL server;
  server.ECDHE = true;
  server.CipherList = "AES128-SHA";
  server.Init();
  std::string list = TLSCipherListText(server.Context());
  EXPECT_NE(list.find("AES128-SHA"), std::string::npos);
  EXPECT_EQ(list.find("ECDHE-ECDSA-AES256-GCM-SHA384"), std::string::npos);
}

TEST(TlsServerCiphers, BadCipherListFails) {
  TbrzIdSSLIOHandlerServerOpenSSL server;
  server.CipherList = "NO-SUCH-CIPHER";
  try {
    server.Init();
    FAIL() << "no error";
  } catch (const ETLSError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("SetCipher failed.", 0), 0u) << e.what();
  }
}

TEST(TlsSChannelAlgorithms, TableAndLookups) {
  EXPECT_EQ(TLSSChannelAlgorithms().size(), 50u);
  EXPECT_EQ(TLSSChannelAlgorithms().front().Name, std::string("CALG_3DES"));
  EXPECT_EQ(TLSSChannelAlgorithms().back().Name, std::string("CALG_TLS1PRF"));
  EXPECT_EQ(TLSSChannelAlgorithmName(0x8004), "CALG_SHA");
  EXPECT_EQ(TLSSChannelAlgorithmId("CALG_AES_256"), 0x6610u);
  EXPECT_EQ(TLSSChannelAlgorithmId("calg_aes_256"), 0u);
  EXPECT_EQ(TLSSChannelCipherString("CALG_AES_256:CALG_NOT_THERE"), "AES256");
  EXPECT_EQ(TLSSChannelCipherString("CALG_NOT_THERE:OTHER"), "");
  EXPECT_EQ(TLSSChannelCipherString("CALG_AES_128:CALG_AES_256:CALG_ECDH_EPHEM"), "AES128+kECDHE:AES256+kECDHE");
}

TEST(TlsFactory, OpenSSLClientGetsTheTableAndSettings) {
  TbrzSocketTLS_Options o;
  o.Version = TwsTLSVersions::tls1_3;
  o.RootCertFile = "root.pem";
  o.CertFile = "c.pem";
  o.KeyFile = "k.pem";
  o.Password = "pw";
  o.VerifyCertificate = true;
  o.VerifyDepth = 0;
  auto handler = CreateClientTLSHandler(o);
  auto* ossl = dynamic_cast<TbrzIdSSLIOHandlerSocketOpenSSL*>(handler.get());
  ASSERT_NE(ossl, nullptr);
  EXPECT_EQ(ossl->Versions, (TbrzSSLVersionRange{TLS1_2_VERSION, TLS1_2_VERSION}));
  EXPECT_EQ(ossl->RootCertFile, "root.pem");
  EXPECT_EQ(ossl->CertFile, "c.pem");
  EXPECT_EQ(ossl->KeyFile, "k.pem");
  EXPECT_TRUE(ossl->VerifyPeer);
  EXPECT_EQ(ossl->VerifyDepth, 0);
  EXPECT_FALSE(ossl->PassThrough());
  ASSERT_TRUE(ossl->OnGetPassword);
  o.Password = "changed";
  EXPECT_EQ(ossl->OnGetPassword(), "pw");
}

TEST(TlsFactory, SChannelClientGetsItsSettings) {
  TbrzSocketTLS_Options o;
  o.IOHandler = TwsTLSIOHandler::iohSChannel;
  o.Version = TwsTLSVersions::tls1_2;
  o.VerifyCertificate = true;
  o.SChannel_Options.CertHash = "00";
  o.SChannel_Options.CertStoreName = TbrzSChannelCertStoreName::scsnCA;
  o.SChannel_Options.CertStorePath = TbrzSChannelCertStorePath::scspStoreLocalMachine;
  o.SChannel_Options.CipherList = "CALG_AES_256";
  o.ALPNProtocols = {"mqtt"};
  o.CertFile = "c.p12";
  o.Password = "pw";
  auto handler = CreateClientTLSHandler(o);
  auto* sch = dynamic_cast<TbrzIdSSLIOHandlerSocketSChannel*>(handler.get());
  ASSERT_NE(sch, nullptr);
  EXPECT_EQ(sch->TLSVersion, TwsTLSVersions::tls1_2);
  EXPECT_TRUE(sch->Certificate.VerifyCertificate);
  EXPECT_EQ(sch->Certificate.CertHash, "00");
  EXPECT_EQ(sch->Certificate.CertStoreName, TbrzSChannelCertStoreName::scsnCA);
  EXPECT_EQ(sch->Certificate.CertStorePath, TbrzSChannelCertStorePath::scspStoreLocalMachine);
  EXPECT_EQ(sch->CipherList, "CALG_AES_256");
  EXPECT_EQ(sch->ALPNProtocols, std::vector<std::string>{"mqtt"});
  EXPECT_EQ(sch->Certificate.CertFile, "c.p12");
  EXPECT_EQ(sch->Certificate.CertFilePassword, "pw");
  EXPECT_EQ(TbrzIdSSLIOHandlerSocketSChannel().TLSVersion, TwsTLSVersions::tls1_0);
  EXPECT_EQ(sch->Clone()->CipherList, "");
}

TEST(TlsFactory, ServerGetsItsSettings) {
  TbrzWSSSL_Options o;
  o.Version = TwsTLSVersions::tls1_1;
  o.CertFile = "s.pem";
  o.KeyFile = "s.key";
  o.RootCertFile = "ca.pem";
  o.VerifyCertificate = true;
  o.VerifyDepth = 3;
  o.VerifyCertificate_Options.FailIfNoCertificate = true;
  o.VerifyCertificate_Options.VerifyClientOnce = true;
  o.OpenSSL_Options.ECDHE = true;
  o.OpenSSL_Options.CipherList = "AES256-SHA";
  auto server = CreateServerTLSHandler(o);
  EXPECT_EQ(server->Versions, (TbrzSSLVersionRange{TLS1_1_VERSION, TLS1_1_VERSION}));
  EXPECT_EQ(server->CertFile, "s.pem");
  EXPECT_EQ(server->KeyFile, "s.key");
  EXPECT_EQ(server->RootCertFile, "ca.pem");
  EXPECT_TRUE(server->VerifyPeer);
  EXPECT_TRUE(server->FailIfNoPeerCertificate);
  EXPECT_TRUE(server->VerifyClientOnce);
  EXPECT_EQ(server->VerifyDepth, 3);
  EXPECT_TRUE(server->ECDHE);
  EXPECT_EQ(server->CipherList, "AES256-SHA");
}

TEST(TlsErrors, SChannelErrorClassName) {
  SChannelError e(std::string(msg::kSChannelInitError) + "x", 5);
  EXPECT_EQ(e.ClassName(), "SChannelError");
  EXPECT_STREQ(e.what(), "SChannel initialization error: x");
  EXPECT_EQ(e.CertStatus(), 5u);
  EXPECT_EQ(ETLSError("y").ClassName(), "ETLSError");
}

}  // namespace
}  // namespace brz
