#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "l10n/AppLanguage.h"

namespace lumarin {

// The string tables compiled into the program, one per language. Built once on first use,
// immutable afterwards, readable from any thread.
class LocalizationTables {
 public:
  using Table = std::unordered_map<std::string, std::string>;

  static const Table& table(AppLanguage language);
  // The keys in the English table's order (for tests and tools).
  static const std::vector<std::string>& keys();
};

}  // namespace lumarin
