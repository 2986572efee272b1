#pragma once
// Base of the command processors: owns the parsed current command, reads its arguments, writes
// every result line, and reads the process command line.
//
// Thread-safety: DoJSON runs on the console thread and on remote operators' threads; commands are
// serialised by FCommandLock. WriteLog may be called from any thread.

#include <mutex>
#include <string>

#include "app/CommandLine.h"
#include "app/ParamValue.h"
#include "json/TbrzJSON.h"

namespace brz {

class TbrzCommandLog {
 public:
  TbrzCommandLog() = default;
  virtual ~TbrzCommandLog() = default;
  TbrzCommandLog(const TbrzCommandLog&) = delete;
  TbrzCommandLog& operator=(const TbrzCommandLog&) = delete;

  // One result line: to the console and, when the remote-control intake runs, to every operator.
  virtual void WriteLog(const std::string& Text);
  // Parses Text into the command document and runs it. Exceptions go to the caller.
  virtual void DoJSON(const std::string& Text);
  virtual void DoHelp();
  // Reads the switches; with -server starts the remote-control intake.
  virtual void Initialize(const TbrzCommandLine& CommandLine);

  IbrzJSON CommandDocument();
  // The argument Name of the nested document of Node, or of the command itself when Node is empty.
  // Never raises: a failed look-up reads as empty text.
  TbrzParamValue ParamValue(const std::string& Name, const IbrzObjectJSON& Node = nullptr);
  // The "params" member of the current command (may be empty).
  IbrzObjectJSON Params();

 protected:
  // Command dispatch on "message"; supplied by the subclasses.
  virtual void DoProcessJSON() = 0;
  // Binds and listens for remote operators on IP:Port, then writes the listening line.
  virtual void StartIntake(const std::string& IP, const std::string& Port);
  // Broadcast half of WriteLog; nothing while no intake runs.
  virtual void BroadcastLine(const std::string& Text);
  // Console-only line (help, server connection lines).
  void ConsoleLine(const std::string& Text);

 private:
  IbrzJSON FJSON;
  std::recursive_mutex FCommandLock;  // one command at a time on the shared document
};

}  // namespace brz
