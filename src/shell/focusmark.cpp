#include "focusmark.h"

#include "desktoppalette.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QRegion>

namespace shell {

FocusMark::FocusMark(QWidget* window) : QWidget(window) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { mark(now); });
}

void FocusMark::mark(QWidget* focused) {
    QWidget* window = parentWidget();
    if (focused && !(window->isAncestorOf(focused) && focused->isVisible()))
        focused = nullptr;
    if (m_marked != focused) {
        if (m_marked)
            m_marked->removeEventFilter(this);
        m_marked = focused;
        if (m_marked)
            m_marked->installEventFilter(this);
    }
    follow();
}

void FocusMark::follow() {
    if (!m_marked || !m_marked->isVisible()) {
        hide();
        return;
    }
    const QRect around = QRect(m_marked->mapTo(parentWidget(), QPoint(0, 0)), m_marked->size())
                             .adjusted(-Width, -Width, Width, Width);
    setGeometry(around);
    // Only the outline is the mark's: the control within it repaints on its own.
    setMask(QRegion(rect()).subtracted(QRegion(rect().adjusted(Width, Width, -Width, -Width))));
    raise();
    show();
    update();
}

bool FocusMark::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_marked && (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                                event->type() == QEvent::Hide))
        follow();
    return QWidget::eventFilter(watched, event);
}

void FocusMark::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor colour = focusMarkColour(parentWidget()->palette());
    painter.fillRect(rect(), colour);
}

} // namespace shell
