// Console driver: banner, command-line switches, then one command per input line.

#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>

#include "app/AppMessages.h"
#include "app/CommandLine.h"
#include "app/ConsoleWriter.h"
#include "app/TbrzCommandLog_MQTT.h"
#include "common/Exception.h"

namespace {

std::unique_ptr<brz::TbrzCommandLog_MQTT> GProcessor;

brz::TbrzCommandLog_MQTT& CommandProcessor() {
  if (!GProcessor) GProcessor = std::make_unique<brz::TbrzCommandLog_MQTT>();
  return *GProcessor;
}

bool IsKeyword(const std::string& line, const char* keyword) {
  std::string upper = line;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper == keyword;
}

void Run(int argc, char** argv) {
  for (const char* line : brz::kBanner) brz::ConsoleWriteLine(line);
  CommandProcessor().Initialize(brz::TbrzCommandLine(argc, argv));
  std::string line;
  // End of input ends the program as EXIT does.
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (IsKeyword(line, "EXIT")) break;
    if (IsKeyword(line, "HELP")) CommandProcessor().DoHelp();
    else CommandProcessor().DoJSON(line);
  }
}

// The connections are left to the process end, as are the threads that serve them: nothing is torn
// down that a read thread might still be using, and no close handshake delays the exit.
[[noreturn]] void EndProgram(int code) { ::_exit(code); }

}  // namespace

int main(int argc, char** argv) {
  // A peer that closes its socket must not kill the process.
  ::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);
  try {
    Run(argc, argv);
  } catch (const brz::Exception& e) {
    try {
      brz::ConsoleWriteLine(e.ClassName() + ": " + e.what());
    } catch (const brz::Exception&) {
      EndProgram(1);
    }
  }
  EndProgram(0);
}
