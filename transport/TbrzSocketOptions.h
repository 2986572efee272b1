#pragma once
// Option groups shared by client and server sockets. Plain value types: a copy is a deep copy, and
// Assign copies every field.

#include <string>

#include "transport/TbrzTransportTypes.h"

namespace brz {

struct TbrzSocketKeepAlive {
  bool Enabled = false;
  int Interval = 1000;  // ms between probes
  int Time = 7200000;   // ms idle before the first probe
  void Assign(const TbrzSocketKeepAlive& other) { *this = other; }
};
using TbrzTCPKeepAlive = TbrzSocketKeepAlive;

struct TbrzSocketLogFile {
  bool Enabled = false;
  std::string FileName;
  void Assign(const TbrzSocketLogFile& other) { *this = other; }
};
using TbrzTCPLogFile = TbrzSocketLogFile;

struct TbrzSocketThrottle {
  int BitsPerSec = 0;
  bool Enabled = false;
  void Assign(const TbrzSocketThrottle& other) { *this = other; }
};
using TbrzTCPThrottle = TbrzSocketThrottle;

struct TbrzSocketProxy_Options {
  bool Enabled = false;
  std::string Host;
  std::string Password;
  int Port = 0;
  TwsProxy ProxyType = TwsProxy::pxyHTTP;
  std::string Username;
  void Assign(const TbrzSocketProxy_Options& other) { *this = other; }
};
using TbrzTCPProxy_Options = TbrzSocketProxy_Options;

struct TbrzTCPWatchDog_Options {
  bool Enabled = false;
  int Interval = 60;  // seconds
  int Attempts = 0;   // 0: unlimited
  void Assign(const TbrzTCPWatchDog_Options& other) { *this = other; }
};

}  // namespace brz
