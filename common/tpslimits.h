#pragma once
// The TPS limits the module keeps and gives back. The TPS minimum is a converter
// reading (0 to 1023); the TPS maximum is a full-throttle reading divided by 4. The
// read-back takes a TPS maximum only from 1 to 250 and not below the minimum divided
// by 4 (anything else comes back as the minimum), so the calibration, the field
// check and the upload keep to the same range: what is sent is what is read back.
#include <algorithm>

namespace tpslimits {

inline constexpr int minTop = 1023;
inline constexpr int maxBottom = 1;
inline constexpr int maxTop = 250;

// The TPS minimum as the module keeps it: its parameter byte holds the low 8 bits.
constexpr long long keptMin(long long tpsMin) { return tpsMin & 0xFF; }

// The lowest TPS maximum the read-back takes beside this TPS minimum.
constexpr long long maxLow(long long tpsMin) { return std::max<long long>(maxBottom, keptMin(tpsMin) / 4); }

// Whether the read-back takes this TPS maximum as it is.
constexpr bool maxTaken(long long tpsMax, long long tpsMin) { return tpsMax >= maxLow(tpsMin) && tpsMax <= maxTop; }

} // namespace tpslimits
