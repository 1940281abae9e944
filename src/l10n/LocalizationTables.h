#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "l10n/AppLanguage.h"

namespace lumarin {

// The string tables compiled into the program, one per language. Each is parsed on its own
// first use (the interface language's when the program starts, another on a switch),
// immutable afterwards, readable from any thread.
class LocalizationTables {
 public:
  using Table = std::unordered_map<std::string, std::string>;

  static const Table& table(AppLanguage language);
  // The keys in the English table's order (for tests and tools).
  static const std::vector<std::string>& keys();
  // Whether the language's table has been parsed yet (for tests and measurements).
  static bool isLoaded(AppLanguage language);
};

}  // namespace lumarin
