#include "formats/DamageText.h"

#include <cstdio>

std::string DamagedAt(const char* formatName, std::int64_t frame, int rate) {
  const std::int64_t ms = rate > 0 ? frame * 1000 / rate : 0;
  char at[48];
  std::snprintf(at, sizeof at, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return std::string(formatName) + " data is damaged at " + at;
}
