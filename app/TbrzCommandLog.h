#pragma once
// Base of the command processors: owns the parsed current command, reads its arguments, writes
// every result line, reads the process command line, and runs the remote-control intake (a server
// whose operators send commands and receive every result line).
//
// Thread-safety: DoJSON runs on the console thread and on remote operators' threads; commands are
// serialised by FCommandLock. WriteLog may be called from any thread.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "app/CommandLine.h"
#include "app/EventWaits.h"
#include "app/ParamValue.h"
#include "app/TbrzOperatorList.h"
#include "json/TbrzJSON.h"
#include "server/TbrzWSHTTPServer.h"

namespace brz {

class TbrzCommandLog {
 public:
  // Bound on one command line of a raw TCP operator.
  static constexpr size_t kMaxCommandLine = 1024 * 1024;
  // Send time-out towards operators: a stalled one is dropped instead of holding up the others.
  static constexpr int kOperatorSendTimeOut = 5000;

  TbrzCommandLog() = default;
  virtual ~TbrzCommandLog();
  TbrzCommandLog(const TbrzCommandLog&) = delete;
  TbrzCommandLog& operator=(const TbrzCommandLog&) = delete;

 protected:
  // The server's event handlers.
  virtual void HandleServerTCPConnect(const TbrzConnectionPtr& Connection, bool& Accept);
  virtual void HandleServerDisconnect(const TbrzConnectionPtr& Connection, int32_t Code);
  virtual void HandleServerError(const TbrzConnectionPtr& Connection, const std::string& Error);
  virtual void HandleServerException(const TbrzConnectionPtr& Connection, const Exception& E);
  virtual void HandleServerMessage(const TbrzConnectionPtr& Connection, const std::string& Text);
  virtual void HandleServerBinary(const TbrzConnectionPtr& Connection, TbrzMemoryStream& Data);
  virtual void HandleServerUnknownProtocol(const TbrzConnectionPtr& Connection, bool& Accept);

 public:
  // One result line: to the console and, when the remote-control intake runs, to every operator.
  virtual void WriteLog(const std::string& Text);
  // A result line whose operators' copy differs (a secret masked): Text on the console,
  // OperatorText to every operator.
  virtual void WriteLog(const std::string& Text, const std::string& OperatorText);
  // Parses Text into the command document and runs it. Exceptions go to the caller.
  virtual void DoJSON(const std::string& Text);
  // DoJSON for a command sent by a remote operator: while it runs, CommandFromOperator() is true.
  void DoOperatorJSON(const std::string& Text);
  // Whether the command running now came from a remote operator (not the console). Valid inside a
  // command only (commands run one at a time).
  bool CommandFromOperator() const { return FFromOperator; }
  // A wait command timed out: the exit status at end of input says so.
  void NoteWaitTimedOut() { FWaitTimedOut = true; }
  bool WaitTimedOut() const { return FWaitTimedOut; }
  virtual void DoHelp();
  // Reads the switches; with -server starts the remote-control intake.
  virtual void Initialize(const TbrzCommandLine& CommandLine);

  // A command that cannot be carried out as written: one plain line "brzmqtt: Text" on standard
  // error (standard output stays the event stream); with error events on, also an error event
  // line for the console and every operator. Any thread.
  void Diagnostic(const std::string& Text);
  void SetErrorEvents(bool aOn) { FErrorEvents = aOn; }
  bool ErrorEvents() const { return FErrorEvents; }

  // The wait a command asked for: run by DoJSON / DoOperatorJSON once the command lock is
  // released, so that a waiting source holds up only its own commands. Inside a command only.
  // Lines printed from this call on count for it.
  void SetPendingWait(const TbrzEventWaitPtr& aWait);
  // Whether the line of the command running now was blank (inside a command only).
  bool BlankCommand() const { return FBlankCommand; }

  IbrzJSON CommandDocument();
  // The argument Name of the nested document of Node, or of the command itself when Node is empty.
  // Never raises: a failed look-up reads as empty text.
  TbrzParamValue ParamValue(const std::string& Name, const IbrzObjectJSON& Node = nullptr);
  // The "params" member of the current command (may be empty).
  IbrzObjectJSON Params();

  // The remote-control server, created and wired on the first call.
  TbrzWebSocketHTTPServer* ServerComponent();
  // Ends the intake: every operator is disconnected and the server destroyed. A subclass whose
  // commands use its own members calls this first in its destructor, so no remote command runs
  // while those members go.
  void StopIntake();
  // Waits, at most aTimeout in all, until the operators got every line written so far.
  void FlushOperators(std::chrono::milliseconds aTimeout);

 protected:
  // Command dispatch on "message"; supplied by the subclasses.
  virtual void DoProcessJSON() = 0;
  // Binds and listens for remote operators on IP:Port, then writes the listening line.
  virtual void StartIntake(const std::string& IP, const std::string& Port);
  // Broadcast half of WriteLog; nothing while no intake runs.
  virtual void BroadcastLine(const std::string& Text);
  // Console-only line (help, server connection lines).
  void ConsoleLine(const std::string& Text);
  // A command no processor knows (an empty name: the line held no command): a diagnostic; blank
  // lines stay silent.
  virtual void UnknownCommand(const std::string& aMessage);
  // Blocks in a wait, then prints its result line.
  virtual void RunWait(const TbrzEventWaitPtr& aWait);

 private:
  // Runs every complete command a raw TCP operator sent; keeps the unfinished rest.
  void TakeRawLines(const TbrzConnectionPtr& Connection, TbrzMemoryStream& Data);
  // Reads -server.token (or BRZ_SERVER_TOKEN), -server.origin, -server.cert and -server.key.
  void ReadIntakeSwitches(const TbrzCommandLine& CommandLine);
  // A person's line when an operator was dropped. Any thread.
  void OperatorDropped(const TbrzConnectionPtr& Connection, const std::string& Reason);

  IbrzJSON FJSON;
  std::atomic<bool> FErrorEvents{false};
  bool FFromOperator = false;  // guarded by FCommandLock
  std::atomic<bool> FWaitTimedOut{false};
  TbrzEventWaits FWaits;
  TbrzEventWaitPtr FPendingWait;  // guarded by FCommandLock
  bool FBlankCommand = false;     // guarded by FCommandLock
  std::recursive_mutex FCommandLock;  // one command at a time on the shared document

  std::shared_mutex FServerLock;  // guards the FServer reference: shared while broadcasting
  std::unique_ptr<TbrzWebSocketHTTPServer> FServer;
  std::unique_ptr<TbrzOperatorList> FOperators;  // with FServer, under FServerLock

  // Settings of the intake, from the command line (main thread, before the intake starts).
  TbrzOperatorGate FGate;
  std::string FServerCertFile, FServerKeyFile;
};

}  // namespace brz
