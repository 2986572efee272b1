// The command document and argument look-up on arbitrary text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/TbrzCommandLog.h"

namespace {

class Reader : public brz::TbrzCommandLog {
 protected:
  void DoProcessJSON() override {
    auto params = Params();
    for (const char* name : {"url", "topic", "text", "qos", "heartbeat", "a", ""}) {
      (void)ParamValue(name, params).AsText();
      (void)ParamValue(name).AsText();
    }
    (void)CommandDocument()->Text();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Reader reader;
  reader.DoJSON(std::string(reinterpret_cast<const char*>(data), size));
  // The text form must read back to itself.
  auto document = brz::NewJSONDocument();
  document->Read(std::string(reinterpret_cast<const char*>(data), size));
  const std::string once = document->Text();
  auto again = brz::NewJSONDocument();
  again->Read(once);
  (void)again->Text();
  return 0;
}
