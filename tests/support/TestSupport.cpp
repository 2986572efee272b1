#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_set>
#include <utility>

namespace brz::test {

Bytes Hex(const std::string& hex) {
  Bytes out;
  int nibble = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if (c == ' ' || c == '\n' || c == '\t') continue;
    else throw std::invalid_argument("Hex: bad character in " + hex);
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(static_cast<uint8_t>(nibble * 16 + v));
      nibble = -1;
    }
  }
  if (nibble >= 0) throw std::invalid_argument("Hex: odd digit count in " + hex);
  return out;
}

std::string ToHex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string ToText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

int FreeTcpPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    throw std::runtime_error("FreeTcpPort: bind failed");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

bool WaitForListening(const std::string& host, int port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = ::socket(host.find(':') != std::string::npos ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    int rc;
    if (host.find(':') != std::string::npos) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_port = htons(static_cast<uint16_t>(port));
      ::inet_pton(AF_INET6, host.c_str(), &a.sin6_addr);
      rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      ::inet_pton(AF_INET, host.c_str(), &a.sin_addr);
      rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ::close(fd);
    if (rc == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

static std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

// Test executables live in the build directory beside the program.
std::string BinaryDir() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return EnvOr("BRZ_BINARY_DIR", ec ? "build" : self.parent_path().string());
}
std::string SourceDir() { return EnvOr("BRZ_SOURCE_DIR", BRZ_SOURCE_DIR_DEFAULT); }
std::string BrzmqttPath() { return BinaryDir() + "/brzmqtt"; }

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "brztest.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  FPath = tmpl;
  // Brokers started as root drop privileges and must still read files here.
  std::filesystem::permissions(FPath, std::filesystem::perms::all);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream(File(name), std::ios::binary) << content;
  std::filesystem::permissions(File(name), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                               std::filesystem::perms::group_read | std::filesystem::perms::others_read);
}

std::string EventLineLogPath() { return BinaryDir() + "/" + kEventLineLog; }

namespace {

// Every distinct JSON line the program printed while the tests read it goes to one log shared by
// all test processes, which a test checks against the published event schema after the suite.
// Floods repeat the same line many times: each distinct line is written once per test process.
void LogEventLine(const std::string& line) {
  static std::mutex lock;  // guards seen and fd
  static std::unordered_set<std::string> seen;
  static int fd = -1;
  const std::lock_guard<std::mutex> guard(lock);
  if (!seen.insert(line).second) return;
  if (fd < 0) fd = ::open(EventLineLogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // One write per line: O_APPEND keeps lines of concurrent test processes whole.
  const std::string record = line + "\n";
  (void)!::write(fd, record.data(), record.size());
}

// Whole lines only: a last line without its line end was cut off by a killed child.
void LogEventLines(const std::string& text) {
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '{') LogEventLine(line);
    start = end + 1;
  }
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, bool mergeStderr) {
  FLogsEventLines = !argv.empty() && std::filesystem::path(argv[0]).filename() == "brzmqtt";
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  FPid = ::fork();
  if (FPid < 0) throw std::runtime_error("fork failed");
  if (FPid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(mergeStderr ? out[1] : err[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  FIn = in[1];
  FOut = out[0];
  FErr = err[0];
  ::signal(SIGPIPE, SIG_IGN);
}

Process::~Process() {
  if (FIn >= 0) ::close(FIn);
  if (Running()) {
    Kill(SIGKILL);
    Wait(std::chrono::seconds(5));
  }
  if (FOut >= 0) ::close(FOut);
  if (FErr >= 0) ::close(FErr);
}

void Process::Write(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(FIn, text.data() + done, text.size() - done);
    if (n <= 0) throw std::runtime_error("write to child failed");
    done += static_cast<size_t>(n);
  }
}

void Process::CloseStdin() {
  if (FIn >= 0) ::close(FIn);
  FIn = -1;
}

void Process::CloseStdout() {
  if (FOut >= 0) ::close(FOut);
  FOut = -1;
}

bool Process::Fill(int fd, std::string& buffer, std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() < 0) left = std::chrono::milliseconds(0);
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
  char chunk[65536];
  ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n <= 0) return false;
  buffer.append(chunk, static_cast<size_t>(n));
  return true;
}

std::optional<std::string> Process::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto pos = FOutBuffer.find('\n');
    if (pos != std::string::npos) {
      std::string line = FOutBuffer.substr(0, pos);
      FOutBuffer.erase(0, pos + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (FLogsEventLines && !line.empty() && line.front() == '{') LogEventLine(line);
      return line;
    }
    if (!Fill(FOut, FOutBuffer, deadline)) return std::nullopt;
  }
}

std::optional<std::string> Process::ReadLineContaining(const std::string& needle, std::chrono::milliseconds timeout,
                                                       std::vector<std::string>* seen) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto line = ReadLine(left);
    if (!line) return std::nullopt;
    if (seen) seen->push_back(*line);
    if (line->find(needle) != std::string::npos) return line;
  }
}

std::string Process::ReadAll(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Fill(FOut, FOutBuffer, deadline)) {
  }
  if (FLogsEventLines) LogEventLines(FOutBuffer);
  return std::exchange(FOutBuffer, std::string());
}

std::string Process::ReadStderr(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Fill(FErr, FErrBuffer, deadline)) {
  }
  return std::exchange(FErrBuffer, std::string());
}

int Process::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!FExited) {
    int status = 0;
    pid_t r = ::waitpid(FPid, &status, WNOHANG);
    if (r == FPid) {
      FExited = true;
      FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return FStatus;
}

bool Process::Running() {
  if (FExited || FPid <= 0) return false;
  return Wait(std::chrono::milliseconds(0)) == -1;
}

void Process::Kill(int signal) {
  if (!FExited && FPid > 0) ::kill(FPid, signal);
}

Broker::Broker(const std::string& extraConfig, bool websocket) : FExtra(extraConfig), FWebsocket(websocket) {
  FPort = FreeTcpPort();
  if (FWebsocket) FWsPort = FreeTcpPort();
  Start();
}

Broker::~Broker() { Stop(); }

void Broker::Start() {
  std::string config = "user root\nallow_anonymous true\nlog_dest stderr\npersistence false\n";
  config += "listener " + std::to_string(FPort) + " 127.0.0.1\n";
  if (FWebsocket) {
    // mosquitto binds websockets listeners to every address unless given an interface.
    config += "listener " + std::to_string(FWsPort) + "\nprotocol websockets\nbind_interface lo\n";
  }
  config += FExtra;
  FDir.Write("mosquitto.conf", config);
  FProcess = std::make_unique<Process>(std::vector<std::string>{"mosquitto", "-c", FDir.File("mosquitto.conf")}, true);
  if (!WaitForListening("127.0.0.1", FPort, std::chrono::seconds(10)))
    throw std::runtime_error("mosquitto did not start: " + FProcess->ReadAll(std::chrono::milliseconds(200)));
  if (FWebsocket && !WaitForListening("127.0.0.1", FWsPort, std::chrono::seconds(10)))
    throw std::runtime_error("mosquitto websockets listener did not start");
}

void Broker::Stop() {
  if (!FProcess) return;
  FProcess->Kill(SIGTERM);
  if (FProcess->Wait(std::chrono::seconds(5)) < 0) {
    FProcess->Kill(SIGKILL);
    FProcess->Wait(std::chrono::seconds(5));
  }
  FProcess.reset();
}

}  // namespace brz::test
