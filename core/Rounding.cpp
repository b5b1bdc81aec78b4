#include "Rounding.h"

#include <cfenv>
#include <cmath>
#include <limits>

qint32 roundHalfEven(double value) {
    if (std::isnan(value))
        return 0;
    // The default rounding mode rounds halves to even; make sure nobody changed it.
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value);
    std::fesetround(saved);
    if (r >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (r <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint32(r);
}
