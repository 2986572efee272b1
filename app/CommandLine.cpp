#include "app/CommandLine.h"

#include <strings.h>

namespace brz {

namespace {

bool IsSwitchChar(char c) { return c == '-' || c == '/'; }

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

TbrzCommandLine::TbrzCommandLine(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) FArgs.emplace_back(argv[i]);
}

bool TbrzCommandLine::HasSwitch(const std::string& Name) const {
  for (const auto& arg : FArgs) {
    if (!arg.empty() && IsSwitchChar(arg[0]) && SameText(arg.substr(1), Name)) return true;
  }
  return false;
}

bool TbrzCommandLine::FindValueSwitch(const std::string& Name, std::string& Value, bool aPathValue) const {
  for (size_t i = 0; i < FArgs.size(); ++i) {
    const std::string& arg = FArgs[i];
    if (arg.empty() || !IsSwitchChar(arg[0])) continue;
    if (!SameText(arg.substr(1, Name.size()), Name)) continue;
    if (arg.size() > Name.size() + 1) {
      Value = arg.substr(Name.size() + 1);
      if (!Value.empty() && Value[0] == ':') Value.erase(0, 1);
      return true;
    }
    Value.clear();
    if (i + 1 < FArgs.size()) {
      const std::string& next = FArgs[i + 1];
      if (!next.empty() && (aPathValue ? next[0] != '-' : !IsSwitchChar(next[0]))) Value = next;
    }
    return true;
  }
  return false;
}

}  // namespace brz
