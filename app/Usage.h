#pragma once
// --help and --version: answered at the very start, before the banner, without a session.

#include <string>

namespace brz {

enum class TbrzInfoSwitch : unsigned char { None, Help, Version };

// The first argument that is exactly "--help" or "--version"; argv[0] is the program.
TbrzInfoSwitch FindInfoSwitch(int argc, const char* const* argv);

std::string VersionLine();
std::string UsageText();

// Prints what the switch asks for on standard output; returns the exit status (1 when the
// text could not be written).
int AnswerInfoSwitch(TbrzInfoSwitch Switch);

}  // namespace brz
