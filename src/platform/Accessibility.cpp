#include "platform/Accessibility.h"

namespace lumarin {

const char* axErrorName(AXError error) {
  switch (error) {
    case kAXErrorSuccess:
      return "kAXErrorSuccess";
    case kAXErrorFailure:
      return "kAXErrorFailure";
    case kAXErrorIllegalArgument:
      return "kAXErrorIllegalArgument";
    case kAXErrorInvalidUIElement:
      return "kAXErrorInvalidUIElement";
    case kAXErrorInvalidUIElementObserver:
      return "kAXErrorInvalidUIElementObserver";
    case kAXErrorCannotComplete:
      return "kAXErrorCannotComplete";
    case kAXErrorAttributeUnsupported:
      return "kAXErrorAttributeUnsupported";
    case kAXErrorActionUnsupported:
      return "kAXErrorActionUnsupported";
    case kAXErrorNotificationUnsupported:
      return "kAXErrorNotificationUnsupported";
    case kAXErrorNotImplemented:
      return "kAXErrorNotImplemented";
    case kAXErrorAPIDisabled:
      return "kAXErrorAPIDisabled";
    case kAXErrorNoValue:
      return "kAXErrorNoValue";
    default:
      return "kAXErrorUnknown";
  }
}

std::optional<AXElement> AXValue::asElement() const {
  if (auto* e = std::get_if<AXElement>(&value); e != nullptr && !e->isNull()) {
    return *e;
  }
  return std::nullopt;
}

std::optional<std::vector<AXElement>> AXValue::asElements() const {
  const auto* array = std::get_if<Array>(&value);
  if (array == nullptr) {
    return std::nullopt;
  }
  std::vector<AXElement> out;
  out.reserve(array->size());
  for (const auto& entry : *array) {
    auto element = entry.asElement();
    if (!element) {
      return std::nullopt;
    }
    out.push_back(*element);
  }
  return out;
}

std::optional<std::string> AXValue::asString() const {
  if (auto* s = std::get_if<std::string>(&value)) {
    return *s;
  }
  return std::nullopt;
}

std::optional<bool> AXValue::asBool() const {
  if (auto* b = std::get_if<bool>(&value)) {
    return *b;
  }
  if (auto* i = std::get_if<std::int64_t>(&value); i != nullptr && (*i == 0 || *i == 1)) {
    return *i == 1;
  }
  if (auto* d = std::get_if<double>(&value); d != nullptr && (*d == 0 || *d == 1)) {
    return *d == 1;
  }
  return std::nullopt;
}

std::optional<AXUrl> AXValue::asUrl() const {
  if (auto* u = std::get_if<AXUrl>(&value)) {
    return *u;
  }
  return std::nullopt;
}

std::optional<double> AXValue::asNumber() const {
  if (auto* i = std::get_if<std::int64_t>(&value)) {
    return static_cast<double>(*i);
  }
  if (auto* d = std::get_if<double>(&value)) {
    return *d;
  }
  return std::nullopt;
}

std::optional<GlobalPoint> AXValue::asPoint() const {
  if (auto* p = std::get_if<GlobalPoint>(&value)) {
    return *p;
  }
  return std::nullopt;
}

std::optional<Size> AXValue::asSize() const {
  if (auto* s = std::get_if<Size>(&value)) {
    return *s;
  }
  return std::nullopt;
}

std::optional<AXValue> Accessibility::attribute(const AXElement& element, std::string_view name) {
  AXValue value;
  if (copyAttributeValue(element, name, value) != kAXErrorSuccess) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> Accessibility::stringAttribute(const AXElement& element,
                                                          std::string_view name) {
  auto value = attribute(element, name);
  return value ? value->asString() : std::nullopt;
}

std::optional<bool> Accessibility::boolAttribute(const AXElement& element, std::string_view name) {
  auto value = attribute(element, name);
  return value ? value->asBool() : std::nullopt;
}

std::optional<AXUrl> Accessibility::urlAttribute(const AXElement& element, std::string_view name) {
  auto value = attribute(element, name);
  return value ? value->asUrl() : std::nullopt;
}

std::optional<std::vector<AXElement>> Accessibility::elementsAttribute(const AXElement& element,
                                                                       std::string_view name) {
  auto value = attribute(element, name);
  return value ? value->asElements() : std::nullopt;
}

std::optional<GlobalPoint> Accessibility::pointAttribute(const AXElement& element,
                                                         std::string_view name) {
  auto value = attribute(element, name);
  return value ? value->asPoint() : std::nullopt;
}

std::optional<Size> Accessibility::sizeAttribute(const AXElement& element, std::string_view name) {
  auto value = attribute(element, name);
  return value ? value->asSize() : std::nullopt;
}

}  // namespace lumarin
