#include "textprogressbar.h"

namespace shell {

void TextProgressBar::setText(const QString& text) {
    m_text = text;
    // The format is what QProgressBar repaints on; it is kept equal to the text.
    setFormat(text);
    // A screen reader reads the text as the bar's description ("Entry 2 of 4: ...").
    setAccessibleDescription(text);
    update();
}

} // namespace shell
