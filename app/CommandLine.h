#pragma once
// Command-line switches: '-' or '/' prefix, names compared ignoring letter case.

#include <string>
#include <vector>

namespace brz {

class TbrzCommandLine {
 public:
  TbrzCommandLine() = default;
  // argv[0] is the program and is never a switch.
  TbrzCommandLine(int argc, const char* const* argv);
  explicit TbrzCommandLine(std::vector<std::string> args) : FArgs(std::move(args)) {}

  // The whole argument after the prefix character equals Name.
  bool HasSwitch(const std::string& Name) const;
  // The argument starts with Name after the prefix; its value is appended (one ':' skipped) or is
  // the next argument unless that is missing, empty or another switch. First match wins. With
  // aPathValue the next argument may begin with '/' (an absolute file name); only '-' makes it a switch.
  bool FindValueSwitch(const std::string& Name, std::string& Value, bool aPathValue = false) const;

  const std::vector<std::string>& Args() const { return FArgs; }

 private:
  std::vector<std::string> FArgs;  // without the program name
};

}  // namespace brz
