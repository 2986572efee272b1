#pragma once
// Strict readers of command arguments for the commands and members added beyond the base
// language: a value of the wrong type, out of range, or an unknown member is refused with a
// TbrzRefusal naming what is wrong, instead of being coerced. The caller turns a refusal into one
// diagnostic line.

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "json/TbrzJSON.h"

namespace brz {

// What is wrong with a command, in words for people ("qos must be 0, 1 or 2 (got 7)").
class TbrzRefusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The arguments of one command: the members of one JSON object (absent object: no members).
class TbrzCommandArgs {
 public:
  explicit TbrzCommandArgs(IbrzJSON aDocument, std::string aContext = {})
      : FDocument(std::move(aDocument)), FContext(std::move(aContext)) {}
  // The arguments of an object member; an absent member gives no arguments, any other kind is refused.
  TbrzCommandArgs Object(const std::string& aName) const;

  bool Has(const std::string& aName) const;
  TbrzJSONtype Kind(const std::string& aName) const;
  // Names of members not in aKnown (in order).
  std::vector<std::string> Unknown(std::initializer_list<const char*> aKnown) const;
  // Refuses the first member not in aKnown.
  void RefuseUnknown(std::initializer_list<const char*> aKnown) const;

  // Each reads an optional member: false when absent; refused when present with another type or
  // out of range.
  bool Bool(const std::string& aName, bool& aValue) const;
  bool Integer(const std::string& aName, int64_t aMin, int64_t aMax, int64_t& aValue) const;
  bool String(const std::string& aName, std::string& aValue) const;
  // A value that may be binary: a string (UTF-8) or {"hex": "..."} / {"base64": "..."}.
  bool Binary(const std::string& aName, std::string& aBytes) const;
  // User properties as lines "name=value": an object, or a list of [name, value] pairs.
  bool UserProperties(const std::string& aName, std::vector<std::string>& aLines) const;
  // A list of elements (each an argument object or a scalar read by the caller).
  bool List(const std::string& aName, std::vector<IbrzObjectJSON>& aItems) const;
  // A payload given as one of "text", "hex" or "base64"; false when none is given.
  bool Payload(std::string& aBytes, std::string* aForm = nullptr) const;

  const IbrzJSON& Document() const { return FDocument; }
  // The dotted path of this object for messages ("properties."), empty at the top.
  const std::string& Context() const { return FContext; }

 private:
  IbrzObjectJSON Node(const std::string& aName) const;
  std::string Path(const std::string& aName) const { return FContext + aName; }

  IbrzJSON FDocument;
  std::string FContext;
};

// Strict hex (pairs of hex digits) and base64 (standard alphabet, padding optional at the end);
// refused with aWhat named when malformed.
std::string DecodeHexStrict(const std::string& aText, const std::string& aWhat);
std::string DecodeBase64Strict(const std::string& aText, const std::string& aWhat);

// Topic checks; each returns an empty text when the topic is fine, else what is wrong.
std::string PublishTopicProblem(const std::string& aTopic, bool aAliasGiven);
std::string TopicFilterProblem(const std::string& aFilter);

// The JSON text of a scalar argument as written ("7", "\"x\"", "true") for messages.
std::string ShownValue(const IbrzObjectJSON& aNode);

}  // namespace brz
