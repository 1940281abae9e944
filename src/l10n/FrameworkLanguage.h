#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace lumarin {

// The language the system frameworks inside the process show their own texts in: the code
// of the explicitly chosen language, or absent when the system default is in force.
// Callable from any thread.
class FrameworkLanguage {
 public:
  void setCode(std::optional<std::string> code) {
    std::lock_guard lock(mutex_);
    code_ = std::move(code);
  }
  std::optional<std::string> code() const {
    std::lock_guard lock(mutex_);
    return code_;
  }

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> code_;
};

}  // namespace lumarin
