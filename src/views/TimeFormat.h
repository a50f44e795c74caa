#pragma once

#include <QString>

namespace trimora {

// Seconds as "hh:mm:ss.mmm". Every part is truncated, never rounded, so a
// time never shows a second (or a minute) that has not been reached yet.
// Hours are not wrapped. NaN, infinities and negative values show zero.
QString formatTime(double seconds);

} // namespace trimora
