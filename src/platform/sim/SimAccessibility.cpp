#include "platform/sim/SimAccessibility.h"

#include "platform/sim/World.h"

namespace lumarin::sim {

bool SimAccessibility::isProcessTrusted() const { return world_.accessibilityTrusted(); }

bool SimAccessibility::isProcessTrustedWithOptions(bool prompt) {
  return world_.trustedWithPrompt(prompt);
}

AXElement SimAccessibility::createApplication(int pid) {
  return AXElement(world_.applicationNode(pid));
}

AXError SimAccessibility::setMessagingTimeout(const AXElement& element, double seconds) {
  return world_.setMessagingTimeout(element, seconds);
}

AXError SimAccessibility::copyAttributeValue(const AXElement& element, std::string_view attribute,
                                             AXValue& out) {
  return world_.copyAttribute(element, attribute, out);
}

AXError SimAccessibility::copyMultipleAttributeValues(const AXElement& element,
                                                      const std::vector<std::string>& attributes,
                                                      std::vector<AXValue>& out) {
  return world_.copyAttributes(element, attributes, out);
}

AXError SimAccessibility::performAction(const AXElement& element, std::string_view action) {
  return world_.performAction(element, action);
}

AXError SimAccessibility::getPid(const AXElement& element, int& pid) {
  return world_.pidOf(element, pid);
}

}  // namespace lumarin::sim
