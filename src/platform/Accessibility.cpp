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

namespace {

template <typename T>
std::optional<T> alternative(const decltype(AXValue::value)& value) {
  if (const auto* v = std::get_if<T>(&value)) {
    return *v;
  }
  return std::nullopt;
}

}  // namespace

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

std::optional<std::string> AXValue::asString() const { return alternative<std::string>(value); }

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

std::optional<AXUrl> AXValue::asUrl() const { return alternative<AXUrl>(value); }

std::optional<double> AXValue::asNumber() const {
  if (auto* i = std::get_if<std::int64_t>(&value)) {
    return static_cast<double>(*i);
  }
  if (auto* d = std::get_if<double>(&value)) {
    return *d;
  }
  return std::nullopt;
}

std::optional<GlobalPoint> AXValue::asPoint() const { return alternative<GlobalPoint>(value); }

std::optional<Size> AXValue::asSize() const { return alternative<Size>(value); }

std::optional<AXValue> Accessibility::attribute(const AXElement& element, std::string_view name) {
  AXValue value;
  if (copyAttributeValue(element, name, value) != kAXErrorSuccess) {
    return std::nullopt;
  }
  return value;
}

namespace {

// Reads one attribute and views it as one kind; a failed read or another kind is absent.
template <typename T>
std::optional<T> typed(Accessibility& ax, const AXElement& element, std::string_view name,
                       std::optional<T> (AXValue::*view)() const) {
  auto value = ax.attribute(element, name);
  return value ? ((*value).*view)() : std::nullopt;
}

}  // namespace

std::optional<std::string> Accessibility::stringAttribute(const AXElement& element,
                                                          std::string_view name) {
  return typed(*this, element, name, &AXValue::asString);
}

std::optional<bool> Accessibility::boolAttribute(const AXElement& element, std::string_view name) {
  return typed(*this, element, name, &AXValue::asBool);
}

std::optional<AXUrl> Accessibility::urlAttribute(const AXElement& element, std::string_view name) {
  return typed(*this, element, name, &AXValue::asUrl);
}

std::optional<std::vector<AXElement>> Accessibility::elementsAttribute(const AXElement& element,
                                                                       std::string_view name) {
  return typed(*this, element, name, &AXValue::asElements);
}

std::optional<GlobalPoint> Accessibility::pointAttribute(const AXElement& element,
                                                         std::string_view name) {
  return typed(*this, element, name, &AXValue::asPoint);
}

std::optional<Size> Accessibility::sizeAttribute(const AXElement& element, std::string_view name) {
  return typed(*this, element, name, &AXValue::asSize);
}

}  // namespace lumarin
