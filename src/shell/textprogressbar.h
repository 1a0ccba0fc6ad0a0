#pragma once

#include <QProgressBar>

namespace shell {

// A progress bar that shows a text of the program's choosing exactly as given. (A plain
// QProgressBar's format turns "%p", "%v" and "%m" into numbers, and a folder name may hold them.)
// Its accessible description follows the text. It declares no meta-object of its own and so
// still presents itself as a QProgressBar.
class TextProgressBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

    QString text() const override { return m_text; }
    void setText(const QString& text);

private:
    QString m_text;
};

} // namespace shell
