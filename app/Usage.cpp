#include "app/Usage.h"

#include <openssl/crypto.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "app/ExitStatus.h"
#include "app/UsageText.h"

#ifndef BRZ_VERSION
#error "BRZ_VERSION must be set by the build (the project's version)"
#endif

namespace brz {

TbrzInfoSwitch FindInfoSwitch(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return TbrzInfoSwitch::Help;
    if (std::strcmp(argv[i], "--version") == 0) return TbrzInfoSwitch::Version;
  }
  return TbrzInfoSwitch::None;
}

std::string VersionLine() {
  // The libraries actually loaded, which may be newer than the headers built against.
  const char* openssl = OpenSSL_version(OPENSSL_VERSION_STRING);
  const char* zlib = zlibVersion();
  std::string line(std::strlen(kVersionLine) + std::strlen(BRZ_VERSION) + std::strlen(openssl) + std::strlen(zlib),
                   '\0');
  const int n = std::snprintf(line.data(), line.size() + 1, kVersionLine, BRZ_VERSION, openssl, zlib);
  line.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return line;
}

std::string UsageText() {
  std::string text;
  for (const char* line : kUsage) {
    text += line;
    text += '\n';
  }
  return text;
}

int AnswerInfoSwitch(TbrzInfoSwitch Switch) {
  const std::string text = Switch == TbrzInfoSwitch::Help ? UsageText() : VersionLine() + "\n";
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  return std::fflush(stdout) == 0 && written ? exitstatus::kOK : exitstatus::kFailure;
}

}  // namespace brz
