#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Accessibility.h"

namespace lumarin::test {

// The accessibility interface as macOS keeps messaging timeouts: per element reference. Every
// element it hands out (from createApplication, or inside a value another call returned) is a
// new reference that starts with the system's default timeout, whatever its parent had; a
// timeout set on one reference never reaches another of the same node. Calls go on to the
// wrapped interface with that reference's timeout, so a forgotten timeout costs what it would
// cost on a Mac.
//
// Every call that messages another process than `ownPid` with no timeout set, or with one
// above `limit` seconds, is written down as a finding ("AXRole on pid 305: default timeout").
// One thread (the tests' manual scheduler).
class TimeoutAuditAccessibility final : public Accessibility {
 public:
  TimeoutAuditAccessibility(Accessibility& inner, int ownPid, double limit)
      : inner_(inner), ownPid_(ownPid), limit_(limit) {}

  const std::vector<std::string>& findings() const { return findings_; }
  void clearFindings() { findings_.clear(); }

  bool isProcessTrusted() const override { return inner_.isProcessTrusted(); }
  bool isProcessTrustedWithOptions(bool prompt) override {
    return inner_.isProcessTrustedWithOptions(prompt);
  }
  AXElement createApplication(int pid) override { return wrap(inner_.createApplication(pid)); }
  AXError setMessagingTimeout(const AXElement& element, double seconds) override {
    Reference* reference = referenceOf(element);
    if (reference == nullptr || seconds < 0) {
      return kAXErrorIllegalArgument;
    }
    reference->timeout = seconds;
    return kAXErrorSuccess;
  }
  AXError copyAttributeValue(const AXElement& element, std::string_view attribute,
                             AXValue& out) override {
    Reference* reference = prepare(element, attribute);
    if (reference == nullptr) {
      return kAXErrorIllegalArgument;
    }
    AXValue value;
    const AXError result = inner_.copyAttributeValue(reference->inner, attribute, value);
    if (result == kAXErrorSuccess) {
      out = wrapValue(value);
    }
    return result;
  }
  AXError copyMultipleAttributeValues(const AXElement& element,
                                      const std::vector<std::string>& attributes,
                                      std::vector<AXValue>& out) override {
    Reference* reference = prepare(element, "multiple");
    if (reference == nullptr) {
      return kAXErrorIllegalArgument;
    }
    std::vector<AXValue> values;
    const AXError result = inner_.copyMultipleAttributeValues(reference->inner, attributes, values);
    if (result == kAXErrorSuccess) {
      out.clear();
      for (const auto& value : values) {
        out.push_back(wrapValue(value));
      }
    }
    return result;
  }
  AXError performAction(const AXElement& element, std::string_view action) override {
    Reference* reference = prepare(element, action);
    if (reference == nullptr) {
      return kAXErrorIllegalArgument;
    }
    return inner_.performAction(reference->inner, action);
  }
  // Answered by the caller's own process on macOS: it messages nobody.
  AXError getPid(const AXElement& element, int& pid) override {
    Reference* reference = referenceOf(element);
    return reference == nullptr ? kAXErrorIllegalArgument : inner_.getPid(reference->inner, pid);
  }

 private:
  struct Reference final : AXElementNode {
    explicit Reference(AXElement element) : inner(std::move(element)) {}
    AXElement inner;
    double timeout = 0;  // 0: the system's default
  };

  static Reference* referenceOf(const AXElement& element) {
    return dynamic_cast<Reference*>(element.node());
  }

  AXElement wrap(const AXElement& element) {
    return element ? AXElement(std::make_shared<Reference>(element)) : element;
  }

  AXValue wrapValue(const AXValue& value) {
    if (const auto* element = std::get_if<AXElement>(&value.value)) {
      return AXValue(wrap(*element));
    }
    if (const auto* array = std::get_if<AXValue::Array>(&value.value)) {
      AXValue::Array wrapped;
      for (const auto& entry : *array) {
        wrapped.push_back(wrapValue(entry));
      }
      return AXValue(std::move(wrapped));
    }
    return value;
  }

  // Gives the wrapped interface this reference's timeout and notes a call without a short one.
  Reference* prepare(const AXElement& element, std::string_view what) {
    Reference* reference = referenceOf(element);
    if (reference == nullptr) {
      return nullptr;
    }
    (void)inner_.setMessagingTimeout(reference->inner, reference->timeout);
    int pid = 0;
    if (inner_.getPid(reference->inner, pid) == kAXErrorSuccess && pid != ownPid_ &&
        (reference->timeout <= 0 || reference->timeout > limit_)) {
      findings_.push_back(std::string(what) + " on pid " + std::to_string(pid) + ": " +
                          (reference->timeout <= 0 ? std::string("default timeout")
                                                   : std::to_string(reference->timeout) + " s"));
    }
    return reference;
  }

  Accessibility& inner_;
  const int ownPid_;
  const double limit_;
  std::vector<std::string> findings_;
};

}  // namespace lumarin::test
