#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/Geometry.h"

namespace lumarin {

// The accessibility interface (AXUIElement) with macOS's own result codes and value kinds.

using AXError = int;
inline constexpr AXError kAXErrorSuccess = 0;
inline constexpr AXError kAXErrorFailure = -25200;
inline constexpr AXError kAXErrorIllegalArgument = -25201;
inline constexpr AXError kAXErrorInvalidUIElement = -25202;
inline constexpr AXError kAXErrorInvalidUIElementObserver = -25203;
inline constexpr AXError kAXErrorCannotComplete = -25204;
inline constexpr AXError kAXErrorAttributeUnsupported = -25205;
inline constexpr AXError kAXErrorActionUnsupported = -25206;
inline constexpr AXError kAXErrorNotificationUnsupported = -25207;
inline constexpr AXError kAXErrorNotImplemented = -25208;
inline constexpr AXError kAXErrorAPIDisabled = -25211;
inline constexpr AXError kAXErrorNoValue = -25212;

// The platform's name of a result code ("kAXErrorCannotComplete"), for logs and reports.
const char* axErrorName(AXError error);

// What an adapter keeps behind an element; program code never looks inside.
class AXElementNode {
 public:
  virtual ~AXElementNode() = default;
};

// A reference-counted handle to one node of one process, compared by identity.
class AXElement {
 public:
  AXElement() = default;
  explicit AXElement(std::shared_ptr<AXElementNode> node) : node_(std::move(node)) {}

  bool isNull() const { return !node_; }
  explicit operator bool() const { return static_cast<bool>(node_); }
  bool operator==(const AXElement& other) const { return node_ == other.node_; }
  AXElementNode* node() const { return node_.get(); }

 private:
  std::shared_ptr<AXElementNode> node_;
};

// A file or web URL as an accessibility value ("file:///Applications/Mail.app/").
struct AXUrl {
  std::string string;
  bool operator==(const AXUrl&) const = default;
};

// A failed name inside a multiple-attribute read.
struct AXErrorValue {
  AXError error = kAXErrorFailure;
  bool operator==(const AXErrorValue&) const = default;
};

// One accessibility value. Numbers keep integer and real apart as CFNumber does; points and
// sizes are boxed AXValues in global top-left points.
struct AXValue {
  using Array = std::vector<AXValue>;
  std::variant<std::monostate, AXElement, Array, std::string, bool, AXUrl, std::int64_t, double,
               GlobalPoint, Size, AXErrorValue>
      value;

  AXValue() = default;
  template <typename T>
  AXValue(T v) : value(std::move(v)) {}              // NOLINT(google-explicit-constructor)
  AXValue(const char* s) : value(std::string(s)) {}  // NOLINT(google-explicit-constructor)
  AXValue(int v) : value(std::int64_t{v}) {}         // NOLINT(google-explicit-constructor)

  bool operator==(const AXValue&) const = default;

  // Typed views as the callers use them: anything of another kind is absent.
  std::optional<AXElement> asElement() const;
  // Only when every entry is an element (like casting a CFArray to [AXUIElement]).
  std::optional<std::vector<AXElement>> asElements() const;
  std::optional<std::string> asString() const;
  // Booleans, and the numbers 0 and 1 (CFNumber bridges to Bool only for those).
  std::optional<bool> asBool() const;
  std::optional<AXUrl> asUrl() const;
  std::optional<double> asNumber() const;
  std::optional<GlobalPoint> asPoint() const;
  std::optional<Size> asSize() const;
  bool isError() const { return std::holds_alternative<AXErrorValue>(value); }
};

// The operations the program calls. Every call may block the calling thread up to the
// element's messaging timeout; none throws.
class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // AXIsProcessTrusted.
  virtual bool isProcessTrusted() const = 0;
  // AXIsProcessTrustedWithOptions; with `prompt` the system asks the user (once per call).
  virtual bool isProcessTrustedWithOptions(bool prompt) = 0;
  // AXUIElementCreateApplication: always an element; calls on it fail if the process is gone.
  virtual AXElement createApplication(int pid) = 0;
  // AXUIElementSetMessagingTimeout for this element only; 0 restores the default.
  virtual AXError setMessagingTimeout(const AXElement& element, double seconds) = 0;
  virtual AXError copyAttributeValue(const AXElement& element, std::string_view attribute,
                                     AXValue& out) = 0;
  // One value per name, in order; a failed name yields an AXErrorValue.
  virtual AXError copyMultipleAttributeValues(const AXElement& element,
                                              const std::vector<std::string>& attributes,
                                              std::vector<AXValue>& out) = 0;
  virtual AXError performAction(const AXElement& element, std::string_view action) = 0;
  virtual AXError getPid(const AXElement& element, int& pid) = 0;

  // Conveniences for the common "read it as this kind or treat it as absent".
  std::optional<AXValue> attribute(const AXElement& element, std::string_view name);
  std::optional<std::string> stringAttribute(const AXElement& element, std::string_view name);
  std::optional<bool> boolAttribute(const AXElement& element, std::string_view name);
  std::optional<AXUrl> urlAttribute(const AXElement& element, std::string_view name);
  std::optional<std::vector<AXElement>> elementsAttribute(const AXElement& element,
                                                          std::string_view name);
  std::optional<GlobalPoint> pointAttribute(const AXElement& element, std::string_view name);
  std::optional<Size> sizeAttribute(const AXElement& element, std::string_view name);
};

}  // namespace lumarin
