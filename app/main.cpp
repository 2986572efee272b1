// Console driver: banner, command-line switches, then one command per input line.

#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "app/AppMessages.h"
#include "app/CommandLine.h"
#include "app/ConsoleWriter.h"
#include "app/EndOfInput.h"
#include "app/ExitStatus.h"
#include "app/TbrzCommandLog_MQTT.h"
#include "app/Usage.h"
#include "common/Exception.h"

namespace {

std::unique_ptr<brz::TbrzCommandLog_MQTT> GProcessor;

brz::TbrzCommandLog_MQTT& CommandProcessor() {
  if (!GProcessor) GProcessor = std::make_unique<brz::TbrzCommandLog_MQTT>();
  return *GProcessor;
}

// Standard input in large reads: every line already buffered is taken without another system call.
class TbrzConsoleReader {
 public:
  // The next line without its line end; false at end of input (a last line without a line end
  // still counts). A read error ends the input as its end does.
  bool ReadLine(std::string& aLine) {
    for (;;) {
      const size_t end = FBuffer.find('\n', FStart);
      if (end != std::string::npos) {
        aLine.assign(FBuffer, FStart, end - FStart);
        FStart = end + 1;
        return true;
      }
      if (FEnded) {
        if (FStart >= FBuffer.size()) return false;
        aLine.assign(FBuffer, FStart, std::string::npos);
        FStart = FBuffer.size();
        return true;
      }
      Fill();
    }
  }

 private:
  void Fill() {
    FBuffer.erase(0, FStart);
    FStart = 0;
    const size_t kept = FBuffer.size();
    FBuffer.resize(kept + kReadSize);
    ssize_t n;
    do {
      n = ::read(0, FBuffer.data() + kept, kReadSize);
    } while (n < 0 && errno == EINTR);
    FBuffer.resize(kept + static_cast<size_t>(n > 0 ? n : 0));
    if (n <= 0) FEnded = true;
  }

  static constexpr size_t kReadSize = 1 << 16;
  std::string FBuffer;
  size_t FStart = 0;  // first byte not yet handed out
  bool FEnded = false;
};

bool IsKeyword(const std::string& line, const char* keyword) {
  // Commands are far longer than the keywords: most lines are told apart by their length alone.
  if (line.size() != std::char_traits<char>::length(keyword)) return false;
  std::string upper = line;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper == keyword;
}

// Returns the exit status.
int Run(int argc, char** argv) {
  const brz::TbrzCommandLine commandLine(argc, argv);
  // Set before the banner: under -json it goes to standard error too.
  if (commandLine.HasSwitch("json")) brz::SetConsoleJSONOnly(true);
  for (const char* line : brz::kBanner) brz::ConsoleWriteLine(line);
  brz::TbrzEndOfInput endOfInput(CommandProcessor());
  endOfInput.Initialize(commandLine);
  CommandProcessor().Initialize(commandLine);
  TbrzConsoleReader input;
  std::string line;
  bool exitCommand = false;
  while (input.ReadLine(line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (IsKeyword(line, "EXIT")) {
      exitCommand = true;
      break;
    }
    if (IsKeyword(line, "HELP")) CommandProcessor().DoHelp();
    else CommandProcessor().DoJSON(line);
  }
  // End of input finishes the work first and says in the status whether it all got done; EXIT does not wait.
  const int status = exitCommand ? brz::exitstatus::kOK : endOfInput.Finish();
  // Remote operators get the lines already written too, unless one has stopped reading.
  CommandProcessor().FlushOperators(std::chrono::seconds(2));
  return status;
}

// Lines already printed reach standard output first, unless its reader has stopped reading.
constexpr std::chrono::milliseconds kExitFlushTimeout{10000};

// The connections are left to the process end, as are the threads that serve them: nothing is torn
// down that a read thread might still be using, and no close handshake delays the exit.
[[noreturn]] void EndProgram(int code) { ::_exit(code); }

}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer before the banner and start no session.
  if (const auto info = brz::FindInfoSwitch(argc, argv); info != brz::TbrzInfoSwitch::None)
    return brz::AnswerInfoSwitch(info);
  // A peer that closes its socket must not kill the process.
  ::signal(SIGPIPE, SIG_IGN);
  // A console reader that went away (`| head -1`) ends the program at the next line written.
  brz::TbrzConsoleWriter::Instance().SetOnFailure([](int) { EndProgram(brz::exitstatus::kFailure); });
  int status = brz::exitstatus::kFailure;
  try {
    status = Run(argc, argv);
    brz::ConsoleFlush(kExitFlushTimeout);
  } catch (const brz::Exception& e) {
    try {
      brz::ConsoleWriteLine(e.ClassName() + ": " + e.what());
      brz::ConsoleFlush(kExitFlushTimeout);
    } catch (const brz::Exception&) {
      // The console is gone; the status still tells.
    }
    status = brz::exitstatus::kFailure;
  }
  EndProgram(status);
}
