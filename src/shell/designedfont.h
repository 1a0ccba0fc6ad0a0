#pragma once

#include <QString>

namespace shell {

// The typeface of the designed window. The design is drawn in Arial; Liberation Sans has Arial's
// metrics, so the designed captions fit their designed widths. Its files are loaded on the first
// call, so that neither the desktop's default font nor its font substitutions decide what stands
// in for Arial. When the files are gone, an installed Liberation Sans, else Arial, is named and
// the font configuration decides.
QString designedFontFamily();

} // namespace shell
