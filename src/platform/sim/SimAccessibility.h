#pragma once

#include "platform/Accessibility.h"

namespace lumarin::sim {

class World;

// The accessibility interface of the simulated Mac: every call goes to the World, which
// answers with macOS's result codes and charges the call's time.
class SimAccessibility final : public Accessibility {
 public:
  explicit SimAccessibility(World& world) : world_(world) {}

  bool isProcessTrusted() const override;
  bool isProcessTrustedWithOptions(bool prompt) override;
  AXElement createApplication(int pid) override;
  AXError setMessagingTimeout(const AXElement& element, double seconds) override;
  AXError copyAttributeValue(const AXElement& element, std::string_view attribute,
                             AXValue& out) override;
  AXError copyMultipleAttributeValues(const AXElement& element,
                                      const std::vector<std::string>& attributes,
                                      std::vector<AXValue>& out) override;
  AXError performAction(const AXElement& element, std::string_view action) override;
  AXError getPid(const AXElement& element, int& pid) override;

 private:
  World& world_;
};

}  // namespace lumarin::sim
