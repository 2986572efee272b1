#pragma once
// Splits the byte stream of a raw TCP operator into commands. A JSON object is one command, complete
// when its closing brace arrives, with or without a line end, and may span lines; lines whose first
// non-blank character is '#' are comments, also inside an object. Anything else that does not begin
// with '{' is a command ending at its line end (a trailing carriage return is dropped). Blank lines
// are nothing. Sans I/O; one instance per operator, not shared between threads.
//
// States: between commands (at a line start or not), in a comment line, in a line command, in an
// object (depth, inside a string, after a backslash, at a line start).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brz {

class TbrzCommandFramer {
 public:
  explicit TbrzCommandFramer(size_t aMaxCommand) : FMaxCommand(aMaxCommand) {}

  // Appends the commands Bytes complete to Out. False once a command grew past the bound: the
  // commands completed before it are in Out, and the framer takes nothing more.
  bool Feed(std::string_view Bytes, std::vector<std::string>& Out);
  // The end of the stream: the unfinished command, if any (empty when only blanks or comments remain).
  std::string Finish();
  void Reset();

 private:
  enum class TState { Between, Comment, Line, Object };

  void Emit(std::vector<std::string>& Out);

  const size_t FMaxCommand;
  TState FState = TState::Between;
  TState FAfterComment = TState::Between;
  bool FLineStart = true;
  bool FInString = false;
  bool FEscape = false;
  bool FOverflow = false;
  int FDepth = 0;
  std::string FCurrent;
};

}  // namespace brz
