#pragma once
// Shared test helpers: byte literals, free loopback ports, child processes with pipes, and a
// mosquitto broker started on free loopback ports.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brz::test {

using Bytes = std::vector<uint8_t>;

// "30 07 00 03" -> {0x30, 0x07, 0x00, 0x03}; blanks are ignored.
Bytes Hex(const std::string& hex);
// {0x30, 0x07} -> "30 07"
std::string ToHex(const Bytes& bytes);
Bytes ToBytes(const std::string& text);
std::string ToText(const Bytes& bytes);

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeTcpPort();
// True once something accepts TCP connections on host:port (polls until timeout).
bool WaitForListening(const std::string& host, int port, std::chrono::milliseconds timeout);

// Directory of the build (where brzmqtt lives) and of the sources, from the test environment.
std::string BinaryDir();
std::string SourceDir();
std::string BrzmqttPath();
// The JSON lines brzmqtt printed while tests read its standard output, one per line (in BinaryDir()).
inline constexpr const char* kEventLineLog = "e2e-event-lines.log";
std::string EventLineLogPath();

// A fresh temporary directory, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& name) const { return FPath + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;

 private:
  std::string FPath;
};

// A child process with its stdin, stdout and stderr on pipes. Killed on destruction.
class Process {
 public:
  Process(const std::vector<std::string>& argv, bool mergeStderr = false);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t Pid() const { return FPid; }
  // Writes text to the child's stdin.
  void Write(const std::string& text);
  void WriteLine(const std::string& line) { Write(line + "\n"); }
  void CloseStdin();
  // Stops reading the child's stdout: its next write there fails (EPIPE).
  void CloseStdout();
  // Next line of stdout without its line end, or nothing on time-out / end of output.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads lines until one satisfies pred (returned) or time-out; every line read is appended to seen.
  std::optional<std::string> ReadLineContaining(const std::string& needle,
                                                std::chrono::milliseconds timeout = std::chrono::seconds(10),
                                                std::vector<std::string>* seen = nullptr);
  // All stdout until the child closes it (or time-out).
  std::string ReadAll(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::string ReadStderr(std::chrono::milliseconds timeout = std::chrono::milliseconds(200));
  // Waits for exit; returns the exit status, or -1 on time-out (the child keeps running).
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool Running();
  void Kill(int signal = 9);

 private:
  bool Fill(int fd, std::string& buffer, std::chrono::steady_clock::time_point deadline);
  pid_t FPid = -1;
  int FIn = -1, FOut = -1, FErr = -1;
  std::string FOutBuffer, FErrBuffer;
  bool FExited = false;
  int FStatus = 0;
  bool FLogsEventLines = false;  // the child is brzmqtt: its JSON lines go to the event-line log
};

// A mosquitto broker on free loopback ports. Extra configuration lines may be given (listeners
// with TLS, password files); the default has one TCP and one WebSocket listener.
class Broker {
 public:
  explicit Broker(const std::string& extraConfig = "", bool websocket = true);
  ~Broker();
  int Port() const { return FPort; }
  int WsPort() const { return FWsPort; }
  const TempDir& Dir() const { return FDir; }
  void Stop();
  // Starts again on the same ports.
  void Start();

 private:
  TempDir FDir;
  int FPort = 0;
  int FWsPort = 0;
  std::string FExtra;
  bool FWebsocket;
  std::unique_ptr<Process> FProcess;
};

}  // namespace brz::test
