#include "screenfit.h"

#include <algorithm>
#include <cmath>

namespace shell {

double fittingScale(QSize designed, QMargins frame, QSize available) {
    const QSize room =
        available - QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    if (designed.width() <= room.width() && designed.height() <= room.height())
        return 1.0;
    const double scale = std::min(static_cast<double>(room.width()) / designed.width(),
                                  static_cast<double>(room.height()) / designed.height());
    // Rounded down, so that the sizes rounded to whole pixels still fit.
    return std::max(std::floor(scale * 100) / 100, MinimumLayoutScale);
}

} // namespace shell
