#pragma once

#include <QPointer>
#include <QWidget>

namespace shell {

// A 2-pixel outline around the control of its window that has the keyboard focus, in the
// palette's highlight colour (focusMarkColour), drawn just outside the control over whatever
// style or skin draws the control itself. It shows while its window is the active one; it takes
// no clicks and no focus.
class FocusMark : public QWidget {
    Q_OBJECT

public:
    static constexpr int Width = 2;

    explicit FocusMark(QWidget* window);

    // The control it surrounds, or null.
    QWidget* marked() const { return m_marked; }
    // Places the mark around the focused control again (after the window's layout changed).
    void follow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void mark(QWidget* focused);

    QPointer<QWidget> m_marked;
};

} // namespace shell
