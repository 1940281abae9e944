#pragma once

#include <string>

namespace lumarin::bench {

// 30 running processes with 60 menu bar items between them, on a wide notched display, so the
// arrangement decides what is drawn rather than the space.
inline std::string menuBarScenario(const std::string& arrangement) {
  std::string apps;
  for (int i = 0; i < 30; ++i) {
    apps += std::string(i ? "," : "") + R"({"bundleID": "com.example.app)" + std::to_string(i) +
            R"(", "name": "App )" + std::to_string(i) +
            R"(", "accessory": true, "running": true, "menuExtras": [{"title": "a", "width": 24},
               {"description": "b", "width": 30}]})";
  }
  return R"({"menuBar": {"arrangement": ")" + arrangement + R"("},
             "screens": [{"size": [3024, 1964], "scale": 2, "notch": {"width": 185}}],
             "apps": [)" +
         apps + "]}";
}

}  // namespace lumarin::bench
