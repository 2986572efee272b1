// The built program's remote control made safe: operator tokens (header, query, raw auth command),
// the origin check, the warning for an open port, server TLS from the command line, raw command
// framing, masked secrets, and operators that stop reading while a burst of messages arrives.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <thread>

#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestCerts.h"
#include "tests/support/TestSupport.h"

namespace brz {
namespace {

using namespace std::chrono_literals;
using test::Process;
using test::RawPeer;

const std::string kToken = "s3cret-Tok3n";
const std::string kApi5 = R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0"}})";
const std::string kApi311 = R"({"message":"api", "protocol":"mqtt", "params":{"version":"3.1.1"}})";
const std::string kOptions5 = R"({"event": "options", "protocol": "mqtt", "params":{"version": "5.0"}})";
const std::string kOptions311 = R"({"event": "options", "protocol": "mqtt", "params":{"version": "3.1.1"}})";
const std::string kAuth = R"({"message":"auth", "params":{"token":")" + kToken + R"("}})";

// The program listening on 127.0.0.1:Port with extra switches.
struct Program {
  int Port = test::FreeTcpPort();
  std::unique_ptr<Process> P;
  std::vector<std::string> Seen;

  explicit Program(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv{test::BrzmqttPath(), "-server", "-server.ip", "127.0.0.1",
                                  "-server.port:" + std::to_string(Port)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    P = std::make_unique<Process>(argv);
    EXPECT_TRUE(P->ReadLineContaining("Server Listening on", 10s, &Seen));
  }
  std::string Expect(const std::string& needle, std::chrono::milliseconds timeout = 10s) {
    auto line = P->ReadLineContaining(needle, timeout, &Seen);
    return line ? *line : std::string();
  }
  std::string All() const {
    std::string all;
    for (const auto& s : Seen) all += s + "\n";
    return all;
  }
};

// An RFC 6455 upgrade to 127.0.0.1:port with extra header lines and a request target; returns the
// response head.
std::string Upgrade(RawPeer& peer, int port, const std::string& target, const std::string& extra) {
  peer.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
            "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" + extra + "\r\n");
  return peer.ReadUntil("\r\n\r\n");
}

std::string StatusLine(const std::string& response) { return response.substr(0, response.find("\r\n")); }

// A raw operator whose first line is the auth command; then it gets every event line.
std::unique_ptr<RawPeer> AuthedRaw(int port) {
  auto peer = std::make_unique<RawPeer>(port);
  peer->Send(kAuth + "\n" + kApi5 + "\n");
  EXPECT_EQ(peer->ReadUntil("\n"), kOptions5 + "\n");
  return peer;
}

TEST(RemoteSafety, TokenIsAskedOfEveryKindOfOperator) {
  Program program({"-server.token", kToken});
  struct Case {
    std::string Target, Header, Status;
  } cases[] = {
      {"/", "", "HTTP/1.1 401 Unauthorized"},
      {"/?token=wrong", "", "HTTP/1.1 401 Unauthorized"},
      {"/", "Authorization: Bearer wrong\r\n", "HTTP/1.1 401 Unauthorized"},
      {"/", "Authorization: Basic " + kToken + "\r\n", "HTTP/1.1 401 Unauthorized"},
      {"/?token=" + kToken.substr(0, 5), "", "HTTP/1.1 401 Unauthorized"},
      {"/?token=" + kToken, "", "HTTP/1.1 101 Switching Protocols"},
      {"/?a=1&token=" + kToken, "", "HTTP/1.1 101 Switching Protocols"},
      {"/", "Authorization: Bearer " + kToken + "\r\n", "HTTP/1.1 101 Switching Protocols"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Target + " " + c.Header);
    RawPeer peer(program.Port);
    const std::string response = Upgrade(peer, program.Port, c.Target, c.Header);
    EXPECT_EQ(StatusLine(response), c.Status);
    if (c.Status.find("401") != std::string::npos) {
      EXPECT_NE(response.find("WWW-Authenticate: Bearer"), std::string::npos);
      EXPECT_TRUE(peer.Closed(10s));
      EXPECT_TRUE(std::regex_match(program.Expect("refused"),
                                   std::regex("Client [0-9A-F]{32} from 127\\.0\\.0\\.1 refused: no valid token")));
      continue;
    }
    peer.Send(test::MaskedFrame(0x1, kApi311));
    EXPECT_EQ(program.Expect("options"), kOptions311);
    EXPECT_NE(peer.ReadUntil(kOptions311).find(kOptions311), std::string::npos);
  }

  // Raw TCP: a first command other than auth gets one error line and the end; it never runs.
  RawPeer wrong(program.Port);
  wrong.Send(kApi311 + "\n");
  std::string rest;
  EXPECT_TRUE(wrong.Closed(10s, &rest));
  EXPECT_EQ(rest, R"({"event": "error", "description": "not authorized: the first command must be )"
                  R"({\"message\":\"auth\", \"params\":{\"token\":\"...\"}}"})"
                  "\n");
  EXPECT_NE(program.Expect("refused"), "");
  RawPeer badToken(program.Port);
  badToken.Send(R"({"message":"auth", "params":{"token":"nope"}})");
  EXPECT_TRUE(badToken.Closed(10s));
  EXPECT_NE(program.Expect("refused"), "");

  // Until it has shown the token a raw operator sees no event line; after it, every one.
  RawPeer waiting(program.Port);
  waiting.Send("\n");
  std::this_thread::sleep_for(100ms);  // classified before the console's line; a late one only weakens the check
  program.P->WriteLine(kApi5);
  EXPECT_EQ(program.Expect("options"), kOptions5);
  waiting.Send(kAuth);  // no line end: the closing brace ends it
  waiting.Send(kApi311);
  EXPECT_EQ(program.Expect("options"), kOptions311);
  // A slow machine may classify the operator only after the console's line went out; that line then
  // reaches it after its auth, never before.
  const std::string seen = waiting.ReadUntil(kOptions311 + "\n");
  EXPECT_TRUE(seen == kOptions311 + "\n" || seen == kOptions5 + "\n" + kOptions311 + "\n") << seen;

  program.P->WriteLine("EXIT");
  EXPECT_EQ(program.P->Wait(), 0);
  std::string out = program.All() + program.P->ReadAll(2s);
  EXPECT_EQ(out.find(kToken), std::string::npos) << "the token was printed";
  EXPECT_EQ(program.P->ReadStderr().find(kToken), std::string::npos);
}

TEST(RemoteSafety, TokenFromTheEnvironment) {
  ::setenv("BRZ_SERVER_TOKEN", kToken.c_str(), 1);
  Program program;
  ::unsetenv("BRZ_SERVER_TOKEN");
  RawPeer none(program.Port);
  EXPECT_EQ(StatusLine(Upgrade(none, program.Port, "/", "")), "HTTP/1.1 401 Unauthorized");
  auto raw = AuthedRaw(program.Port);
  EXPECT_EQ(program.Expect("options"), kOptions5);
}

TEST(RemoteSafety, OriginsOfOtherSitesAreRefused) {
  struct Case {
    std::vector<std::string> Switches;
    std::string Origin;  // "PORT" stands for the program's port
    bool Admitted;
  } cases[] = {
      {{}, "", true},
      {{}, "http://127.0.0.1:PORT", true},
      {{}, "http://evil.example", false},
      {{}, "http://127.0.0.1", false},
      {{}, "https://127.0.0.1:PORT", true},
      {{}, "null", false},
      {{"-server.origin", "http://*.example"}, "http://evil.example", true},
      {{"-server.origin", "http://*.example"}, "http://127.0.0.1:PORT", false},
  };
  std::unique_ptr<Program> program;
  std::vector<std::string> running;
  for (const Case& c : cases) {
    if (!program || running != c.Switches) {
      program = std::make_unique<Program>(c.Switches);
      running = c.Switches;
    }
    const std::string origin = std::regex_replace(c.Origin, std::regex("PORT"), std::to_string(program->Port));
    SCOPED_TRACE(origin);
    RawPeer peer(program->Port);
    const std::string response = Upgrade(peer, program->Port, "/", origin.empty() ? "" : "Origin: " + origin + "\r\n");
    if (!c.Admitted) {
      EXPECT_EQ(StatusLine(response), "HTTP/1.1 403 Forbidden");
      EXPECT_TRUE(peer.Closed(10s));
      EXPECT_NE(program->Expect("refused: origin " + origin + " not allowed"), "");
      continue;
    }
    EXPECT_EQ(StatusLine(response), "HTTP/1.1 101 Switching Protocols");
  }
}

TEST(RemoteSafety, OpenPortWithoutTokenIsWarnedAbout) {
  // 192.0.2.1 (a documentation address) is on no interface: the bind fails after the warning, so no
  // port is ever opened beyond loopback.
  const std::string warning = "brzmqtt: warning: remote control listens on 192.0.2.1 without a token";
  struct Case {
    std::string IP;
    std::vector<std::string> Extra;
    bool Warned;
  } cases[] = {{"192.0.2.1", {}, true}, {"192.0.2.1", {"-server.token", kToken}, false}, {"127.0.0.1", {}, false},
               {"::1", {}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.IP);
    std::vector<std::string> argv{test::BrzmqttPath(), "-server", "-server.ip", c.IP, "-server.port",
                                  std::to_string(test::FreeTcpPort())};
    argv.insert(argv.end(), c.Extra.begin(), c.Extra.end());
    Process p(argv);
    EXPECT_TRUE(p.ReadLineContaining(c.IP == "192.0.2.1" ? "ESocketError" : "Server Listening", 10s));
    p.CloseStdin();
    // A failed start (the bind) ends with status 1.
    EXPECT_EQ(p.Wait(), c.IP == "192.0.2.1" ? 1 : 0);
    const std::string err = p.ReadStderr(1s);
    EXPECT_EQ(err.find(warning) != std::string::npos, c.Warned) << err;
    EXPECT_EQ(err.find(kToken), std::string::npos);
  }
}

TEST(RemoteSafety, ServerTlsFromTheCommandLine) {
  const auto& certs = test::TestCerts::Get();
  Program program({"-server.cert", certs.ServerCert, "-server.key", certs.ServerKey, "-server.token", kToken});
  Process wss({"/usr/bin/python3", test::SourceDir() + "/tests/server/ServerTlsOperator.py", "ws",
               "wss://127.0.0.1:" + std::to_string(program.Port) + "/?token=" + kToken, certs.CAFile});
  EXPECT_EQ(wss.ReadLine(10s).value_or(""), "OPEN");
  wss.WriteLine("SEND " + kApi311);
  EXPECT_EQ(program.Expect("options"), kOptions311);
  EXPECT_EQ(wss.ReadLine(10s).value_or(""), "MSG " + kOptions311);
  Process raw({"/usr/bin/python3", test::SourceDir() + "/tests/server/ServerTlsOperator.py", "raw",
               std::to_string(program.Port), certs.CAFile});
  EXPECT_EQ(raw.ReadLine(10s).value_or(""), "OPEN");
  raw.WriteLine("SEND " + kAuth);
  raw.WriteLine("SEND " + kApi5);
  EXPECT_EQ(program.Expect("options"), kOptions5);
  EXPECT_EQ(raw.ReadLine(10s).value_or(""), "MSG " + kOptions5);
  EXPECT_EQ(wss.ReadLine(10s).value_or(""), "MSG " + kOptions5);

  // A plain operator on the TLS port runs nothing.
  RawPeer plain(program.Port);
  plain.Send(kApi311 + "\n");
  EXPECT_TRUE(plain.Closed(15s));
}

TEST(RemoteSafety, ServerTlsSwitchesThatCannotWorkEndTheProgram) {
  const auto& certs = test::TestCerts::Get();
  test::TempDir dir;
  dir.Write("broken.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
  struct Case {
    std::vector<std::string> Switches;
    std::string Line;  // the start of the error line
  } cases[] = {
      {{"-server.cert", certs.ServerCert}, "Exception: -server.cert and -server.key must be given together"},
      {{"-server.cert", dir.File("broken.pem"), "-server.key", certs.ServerKey}, ""},
      {{"-server.cert", dir.File("missing.pem"), "-server.key", certs.ServerKey}, ""},
      {{"-server.token"}, "Exception: -server.token needs a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Switches.back());
    std::vector<std::string> argv{test::BrzmqttPath(), "-server", "-server.ip", "127.0.0.1", "-server.port",
                                  std::to_string(test::FreeTcpPort())};
    argv.insert(argv.end(), c.Switches.begin(), c.Switches.end());
    Process p(argv);
    std::string all = p.ReadAll(10s);
    EXPECT_NE(p.Wait(), -1);
    EXPECT_EQ(all.find("Server Listening"), std::string::npos) << all;
    if (!c.Line.empty()) {
      EXPECT_NE(all.find(c.Line), std::string::npos) << all;
    }
    // Some line names what went wrong (the last one, after the banner).
    EXPECT_NE(all.find(": "), std::string::npos) << all;
  }
}

TEST(RemoteSafety, RawCommandsRunWholeWithOrWithoutLineEnds) {
  Program program;
  RawPeer raw(program.Port);
  // No line end: the closing brace completes it.
  raw.Send(kApi5);
  EXPECT_EQ(program.Expect("options"), kOptions5);
  // Spread over lines, with comment lines, split between writes; then a second object at once.
  raw.Send("# set the version\n{\"message\":\"api\",\n  # a comment inside\n  \"protocol\":\"mqtt\",");
  std::this_thread::sleep_for(50ms);
  raw.Send("\r\n \"params\":{\"version\":\"3.1.1\"}}" + kApi5 + "\n");
  EXPECT_EQ(program.Expect("options"), kOptions311);
  EXPECT_EQ(program.Expect("options"), kOptions5);

  // Sent and closed at once: it still runs, with or without its line end.
  for (const std::string& tail : {std::string("\n"), std::string()}) {
    for (const std::string& command : {kApi311, kApi5}) {
      {
        RawPeer quick(program.Port);
        quick.Send(command + tail);
      }
      EXPECT_EQ(program.Expect("options"), command == kApi5 ? kOptions5 : kOptions311);
    }
  }
  // An unfinished object at close runs as far as it goes.
  {
    RawPeer partial(program.Port);
    partial.Send(R"({"message":"api", "protocol":"mqtt", "params":{"version":"5.0")");
  }
  EXPECT_EQ(program.Expect("options"), kOptions5);
}

TEST(RemoteSafety, OperatorsSeeThePasswordMasked) {
  Program program;
  auto raw = std::make_unique<RawPeer>(program.Port);
  raw->Send(kApi5 + "\n");
  EXPECT_EQ(raw->ReadUntil("\n"), kOptions5 + "\n");
  auto ws = test::WebSocketPeer(program.Port);
  ws->Send(test::MaskedFrame(0x1, kApi5));
  EXPECT_NE(ws->ReadUntil(kOptions5).find(kOptions5), std::string::npos);
  EXPECT_EQ(raw->ReadUntil("\n"), kOptions5 + "\n");
  program.P->WriteLine(
      R"({"message":"authentication", "protocol":"mqtt", "params":{"enabled":"true", "username":"u", "password":"pw!"}})");
  const std::string base = R"({"event": "authentication", "protocol": "mqtt", "params": {"enabled": true, "username": "u", "password": ")";
  EXPECT_EQ(program.Expect("authentication"), base + "pw!\"}}");
  EXPECT_EQ(raw->ReadUntil("\n"), base + "***\"}}\n");
  EXPECT_NE(ws->ReadUntil("***\"}}").find(base + "***\"}}"), std::string::npos);
  // The same from an operator's command.
  raw->Send(R"({"message":"authentication", "protocol":"mqtt", "params":{"enabled":"true", "username":"v", "password":"x"}})");
  const std::string other = R"({"event": "authentication", "protocol": "mqtt", "params": {"enabled": true, "username": "v", "password": ")";
  EXPECT_EQ(program.Expect("\"v\""), other + "x\"}}");
  EXPECT_EQ(raw->ReadUntil("\n"), other + "***\"}}\n");
}

TEST(RemoteSafety, WebConsolePageIsServedOnTheServerPort) {
  for (bool token : {false, true}) {
    SCOPED_TRACE(token);
    Program program(token ? std::vector<std::string>{"-server.token", kToken} : std::vector<std::string>{});
    struct Case {
      std::string Request, Status;
      bool Body;
    } cases[] = {
        {"GET / HTTP/1.1", "HTTP/1.1 200 OK", true},
        {"GET /index.html?x=1 HTTP/1.1", "HTTP/1.1 200 OK", true},
        {"HEAD / HTTP/1.1", "HTTP/1.1 200 OK", false},
        {"GET /other HTTP/1.1", "HTTP/1.1 404 Not Found", false},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.Request);
      RawPeer peer(program.Port);
      peer.Send(c.Request + "\r\nHost: 127.0.0.1\r\n\r\n");
      std::string response;
      EXPECT_TRUE(peer.Closed(10s, &response));
      EXPECT_EQ(StatusLine(response), c.Status);
      const size_t head = response.find("\r\n\r\n");
      ASSERT_NE(head, std::string::npos);
      const std::string body = response.substr(head + 4);
      if (c.Status.find("200") == std::string::npos) continue;
      EXPECT_NE(response.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos);
      EXPECT_NE(response.find("Content-Security-Policy: "), std::string::npos);
      if (!c.Body) {
        EXPECT_EQ(body, "");
        continue;
      }
      EXPECT_EQ(response.find("Content-Length: " + std::to_string(body.size()) + "\r\n") != std::string::npos, true);
      for (const char* id : {"id=\"command\"", "id=\"events\"", "id=\"status\"", "id=\"token\""})
        EXPECT_NE(body.find(id), std::string::npos) << id;
      EXPECT_NE(body.find(token ? "data-token-required=\"yes\"" : "data-token-required=\"no\""), std::string::npos);
      // Self-contained: nothing is fetched from elsewhere, and the token is not in the page.
      EXPECT_EQ(body.find("src=\"http"), std::string::npos);
      EXPECT_EQ(body.find("href=\"http"), std::string::npos);
      EXPECT_EQ(body.find(kToken), std::string::npos);
    }
  }
}

// Counts publish lines arriving at a raw operator on a thread of its own, as a reading operator does.
class ReadingOperator {
 public:
  ReadingOperator(int port, int expected) : FPeer(AuthedRaw(port)), FExpected(expected) {
    FThread = std::thread([this] { Run(); });
  }
  ~ReadingOperator() { FThread.join(); }
  int Count() {
    FThread.join();
    FThread = std::thread([] {});
    return FCount;
  }

 private:
  void Run() {
    std::string carry;
    char buffer[65536];
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (FCount < FExpected && std::chrono::steady_clock::now() < deadline) {
      pollfd p{FPeer->Fd(), POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) continue;
      ssize_t n = ::recv(FPeer->Fd(), buffer, sizeof buffer, 0);
      if (n <= 0) break;
      carry.append(buffer, static_cast<size_t>(n));
      size_t start = 0;
      for (size_t end; (end = carry.find('\n', start)) != std::string::npos; start = end + 1)
        if (carry.compare(start, 19, "{\"event\": \"publish\"") == 0) ++FCount;
      carry.erase(0, start);
    }
  }
  std::unique_ptr<RawPeer> FPeer;
  const int FExpected;
  int FCount = 0;
  std::thread FThread;
};

// Seconds from the go of a fast publisher to the last of Count publish lines on the console, with a
// broker session subscribed and an operator reading along; stalled: one more operator that
// connected and then never reads.
struct BurstRun {
  double Seconds = 0;
  int Lines = 0;
  int OperatorLines = 0;
  bool Dropped = false;
};

BurstRun ReceiveBurst(int count, bool stalled) {
  test::Broker broker("max_queued_messages 0\nmax_queued_bytes 0\n", false);
  Program program;
  int slow = -1;
  if (stalled) {
    // A small receive window from the start: the kernel holds little for it, so its queue overflows.
    slow = ::socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    ::setsockopt(slow, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(program.Port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(slow, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const std::string first = kApi5 + "\n";
    EXPECT_EQ(::send(slow, first.data(), first.size(), 0), static_cast<ssize_t>(first.size()));
    EXPECT_EQ(program.Expect("options"), kOptions5);
  }
  ReadingOperator reader(program.Port, count);
  program.P->WriteLine(R"({"message":"open", "params":{"url":"tcp://127.0.0.1:)" + std::to_string(broker.Port()) + R"("}})");
  program.Expect("\"connect\"");
  program.P->WriteLine(R"({"message":"subscribe", "protocol":"mqtt", "params":{"topic":"burst"}})");
  program.Expect("\"subscribe\"");
  Process pub({"/usr/bin/python3", test::SourceDir() + "/bench/fast_pub.py", "--port", std::to_string(broker.Port()),
               "--topic", "burst", "--count", std::to_string(count)});
  EXPECT_EQ(pub.ReadLine(30s).value_or(""), "ready");
  BurstRun run;
  const auto t0 = std::chrono::steady_clock::now();
  pub.WriteLine("go");
  while (run.Lines < count) {
    auto line = program.P->ReadLine(30s);
    if (!line) break;
    if (line->find("\"event\": \"publish\"") != std::string::npos) ++run.Lines;
    else if (line->find(" dropped: ") != std::string::npos) run.Dropped = true;
  }
  run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (stalled && !run.Dropped) run.Dropped = !program.Expect(" dropped: ", 30s).empty();
  run.OperatorLines = reader.Count();
  if (slow >= 0) ::close(slow);
  return run;
}

TEST(RemoteSafety, AnOperatorThatStopsReadingSlowsNothing) {
  constexpr int kCount = 50000;
  // What is asserted is that nothing is lost and the stalled operator is dropped; the times are printed
  // for the record (speed is shown by benchmarks, not asserted by tests).
  double seconds[2] = {0, 0};
  for (bool stalled : {false, true}) {
    BurstRun run = ReceiveBurst(kCount, stalled);
    ASSERT_EQ(run.Lines, kCount) << "stalled: " << stalled;
    EXPECT_EQ(run.OperatorLines, kCount) << "stalled: " << stalled;
    if (stalled) {
      EXPECT_TRUE(run.Dropped);
    }
    seconds[stalled] = run.Seconds;
  }
  std::printf("50000 messages: %.3f s without, %.3f s with an operator that stopped reading\n", seconds[0], seconds[1]);
}

}  // namespace
}  // namespace brz
