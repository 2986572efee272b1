#include "common/Time.h"

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace brz {

namespace {

std::mutex& TLSPathLock() {
  static std::mutex lock;
  return lock;
}

std::string& TLSPath() {
  static std::string path;
  return path;
}

}  // namespace

uint64_t TickCount64() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

int64_t TickDiff(uint64_t oldTick, uint64_t newTick) {
  return static_cast<int64_t>(static_cast<uint32_t>(newTick)) - static_cast<int64_t>(static_cast<uint32_t>(oldTick));
}

std::string ApplicationPath() {
  std::string buffer(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "./";
  buffer.resize(static_cast<size_t>(n));
  const size_t slash = buffer.rfind('/');
  return slash == std::string::npos ? "./" : buffer.substr(0, slash + 1);
}

void SetTLSLibraryPath(std::string_view path) {
  std::lock_guard<std::mutex> guard(TLSPathLock());
  TLSPath() = std::string(path);
}

std::string TLSLibraryPath() {
  std::lock_guard<std::mutex> guard(TLSPathLock());
  return TLSPath();
}

TbrzDateTime LocalNow() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  const time_t seconds = tv.tv_sec;
  tm local{};
  ::localtime_r(&seconds, &local);
  TbrzDateTime t;
  t.Year = local.tm_year + 1900;
  t.Month = local.tm_mon + 1;
  t.Day = local.tm_mday;
  t.Hour = local.tm_hour;
  t.Minute = local.tm_min;
  t.Second = local.tm_sec;
  t.Millisecond = static_cast<int>(tv.tv_usec / 1000);
  return t;
}

std::string FormatDateTime(std::string_view format, const TbrzDateTime& time) {
  std::string out;
  auto number = [&out](int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    out += buffer;
  };
  size_t i = 0;
  while (i < format.size()) {
    const std::string_view rest = format.substr(i);
    if (rest.starts_with("yyyy")) {
      number(time.Year, 4);
      i += 4;
    } else if (rest.starts_with("yy")) {
      number(time.Year % 100, 2);
      i += 2;
    } else if (rest.starts_with("mm")) {
      number(time.Month, 2);
      i += 2;
    } else if (rest.starts_with("dd")) {
      number(time.Day, 2);
      i += 2;
    } else if (rest.starts_with("hh")) {
      number(time.Hour, 2);
      i += 2;
    } else if (rest.starts_with("nn")) {
      number(time.Minute, 2);
      i += 2;
    } else if (rest.starts_with("ss")) {
      number(time.Second, 2);
      i += 2;
    } else if (rest.starts_with("zzz")) {
      number(time.Millisecond, 3);
      i += 3;
    } else {
      out += format[i++];
    }
  }
  return out;
}

std::string FormatLocalNow(std::string_view format) { return FormatDateTime(format, LocalNow()); }

}  // namespace brz
