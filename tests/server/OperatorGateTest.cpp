// The operator gate: tokens (constant-time comparison, Bearer header, query parameter) and the
// origin rule, on request lines as the server's classification hands them over.

#include <gtest/gtest.h>

#include "server/TbrzOperatorGate.h"

namespace brz {
namespace {

using TVerdict = TbrzOperatorGate::TVerdict;

std::vector<std::string> Request(const std::string& target, const std::vector<std::string>& headers) {
  std::vector<std::string> lines{"GET " + target + " HTTP/1.1", "Upgrade: websocket", "Connection: Upgrade"};
  lines.insert(lines.end(), headers.begin(), headers.end());
  return lines;
}

TEST(OperatorGate, ConstantTimeEqualsComparesWholeTexts) {
  EXPECT_TRUE(ConstantTimeEquals("abc", "abc"));
  EXPECT_TRUE(ConstantTimeEquals("", ""));
  for (const char* other : {"abd", "ab", "abcd", "", "ABC", "abcabc"}) EXPECT_FALSE(ConstantTimeEquals(other, "abc")) << other;
  EXPECT_FALSE(ConstantTimeEquals("x", ""));
}

TEST(OperatorGate, QueryParameters) {
  struct Case {
    std::string Target, Value;
    bool Found;
  } cases[] = {
      {"/?token=abc", "abc", true},          {"/path?a=1&token=a%2Bb%20c", "a+b c", true},
      {"/?token=", "", true},                {"/?token", "", true},
      {"/?tokens=x&xtoken=y", "", false},    {"/", "", false},
      {"/?a=1&token=x#token=y", "x", true},  {"/?token=%zz%4", "%zz%4", true},
  };
  for (const Case& c : cases) {
    bool found = true;
    EXPECT_EQ(QueryParameter(c.Target, "token", &found), c.Value) << c.Target;
    EXPECT_EQ(found, c.Found) << c.Target;
  }
}

TEST(OperatorGate, SameHostOrigin) {
  struct Case {
    std::string Origin, Host;
    bool Tls, Same;
  } cases[] = {
      {"http://127.0.0.1:8080", "127.0.0.1:8080", false, true},
      {"http://LOCALHOST:8080", "localhost:8080", false, true},
      {"http://example.com", "example.com", false, true},
      {"https://example.com", "example.com", true, true},
      {"https://example.com", "example.com", false, false},
      {"http://example.com:80", "example.com", false, true},
      {"http://[::1]:9000", "[::1]:9000", false, true},
      {"http://[::1]:9000", "[::1]:9001", false, false},
      {"http://evil.example", "127.0.0.1:8080", false, false},
      {"http://127.0.0.1:8081", "127.0.0.1:8080", false, false},
      {"http://127.0.0.1.evil.example:8080", "127.0.0.1:8080", false, false},
      {"null", "127.0.0.1:8080", false, false},
      {"http://127.0.0.1:8080", "", false, false},
      {"file://", "127.0.0.1:8080", false, false},
  };
  for (const Case& c : cases) EXPECT_EQ(SameHostOrigin(c.Origin, c.Host, c.Tls), c.Same) << c.Origin << " " << c.Host;
}

TEST(OperatorGate, UpgradeVerdicts) {
  TbrzOperatorGate open;
  TbrzOperatorGate locked;
  locked.Token = "t0k";
  TbrzOperatorGate listed;
  listed.OriginsAllowed = "http://*.example, https://console.lab";
  struct Case {
    const TbrzOperatorGate* Gate;
    std::string Target;
    std::vector<std::string> Headers;
    TVerdict Verdict;
  } cases[] = {
      {&open, "/", {}, TVerdict::Admitted},
      {&open, "/", {"Host: 127.0.0.1:5000", "Origin: http://127.0.0.1:5000"}, TVerdict::Admitted},
      {&open, "/", {"Host: 127.0.0.1:5000", "Origin: http://evil.example"}, TVerdict::ForbiddenOrigin},
      {&open, "/", {"Host: h", "Sec-WebSocket-Origin: http://evil.example"}, TVerdict::ForbiddenOrigin},
      {&locked, "/", {}, TVerdict::Unauthorized},
      {&locked, "/?token=t0k", {}, TVerdict::Admitted},
      {&locked, "/?token=T0K", {}, TVerdict::Unauthorized},
      {&locked, "/", {"authorization: bearer t0k"}, TVerdict::Admitted},
      {&locked, "/", {"Authorization: Bearer  t0k "}, TVerdict::Admitted},
      {&locked, "/", {"Authorization: Bearer t0kk"}, TVerdict::Unauthorized},
      {&locked, "/", {"Authorization: t0k"}, TVerdict::Unauthorized},
      // A wrong header does not spoil a right query, and the token does not excuse a foreign page.
      {&locked, "/?token=t0k", {"Authorization: Bearer no"}, TVerdict::Admitted},
      {&locked, "/?token=t0k", {"Host: h:1", "Origin: http://evil.example"}, TVerdict::ForbiddenOrigin},
      {&listed, "/", {"Host: 127.0.0.1:5000", "Origin: http://a.example"}, TVerdict::Admitted},
      {&listed, "/", {"Host: 127.0.0.1:5000", "Origin: https://console.lab"}, TVerdict::Admitted},
      {&listed, "/", {"Host: 127.0.0.1:5000", "Origin: http://127.0.0.1:5000"}, TVerdict::ForbiddenOrigin},
      {&listed, "/", {"Host: 127.0.0.1:5000"}, TVerdict::Admitted},
  };
  for (const Case& c : cases) {
    std::string trace = c.Target;
    for (const auto& h : c.Headers) trace += " | " + h;
    EXPECT_EQ(c.Gate->CheckUpgrade(Request(c.Target, c.Headers), false), c.Verdict) << trace;
  }
}

TEST(OperatorGate, RefusalsAreCompleteResponses) {
  const std::string unauthorized = UpgradeRefusal(TVerdict::Unauthorized);
  EXPECT_EQ(unauthorized.rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u);
  EXPECT_NE(unauthorized.find("\r\nWWW-Authenticate: Bearer\r\n"), std::string::npos);
  const std::string forbidden = UpgradeRefusal(TVerdict::ForbiddenOrigin);
  EXPECT_EQ(forbidden.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u);
  for (const std::string& r : {unauthorized, forbidden}) {
    const size_t head = r.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_NE(r.find("Content-Length: " + std::to_string(r.size() - head - 4) + "\r\n"), std::string::npos);
    EXPECT_NE(r.find("Connection: close\r\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace brz
