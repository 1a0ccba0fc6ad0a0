#include "designedstyle.h"

#include <QPainter>
#include <QStyleOptionGroupBox>
#include <QWidget>
#include <algorithm>

namespace shell {

namespace {
constexpr int RadioLabelSpacing = 3;
constexpr int CaptionIndent = 6;
constexpr int CaptionPadding = 2;

// The caption as it shows: a single "&" marks the mnemonic letter, "&&" shows one "&".
QString shownText(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        shown.append(text[i]);
    }
    return shown;
}
} // namespace

int DesignedStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                               const QWidget* widget) const {
    if (metric == PM_RadioButtonLabelSpacing)
        return RadioLabelSpacing;
    const int value = QProxyStyle::pixelMetric(metric, option, widget);
    // The round indicator shrinks with an option button that the window draws smaller than
    // designed, instead of being cut at its top and bottom.
    if ((metric == PM_ExclusiveIndicatorWidth || metric == PM_ExclusiveIndicatorHeight) && widget)
        return std::min(value, widget->height());
    return value;
}

QRect DesignedStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                    SubControl subControl, const QWidget* widget) const {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || !box)
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    const QFontMetrics metrics = box->fontMetrics;
    const QRect whole = box->rect;
    const QRect caption(whole.left() + CaptionIndent, whole.top(),
                        metrics.horizontalAdvance(shownText(box->text)) + 2 * CaptionPadding,
                        metrics.height());
    switch (subControl) {
    case SC_GroupBoxLabel:
        return caption;
    case SC_GroupBoxFrame:
        return whole.adjusted(0, metrics.height() / 2, 0, 0);
    case SC_GroupBoxContents:
        return whole.adjusted(2, metrics.height(), -2, -2);
    default:
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    }
}

void DesignedStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                       QPainter* painter, const QWidget* widget) const {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || !box || (box->subControls & SC_GroupBoxCheckBox)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
    const QRect caption = subControlRect(control, option, SC_GroupBoxLabel, widget);
    painter->save();
    // An etched line: a dark outline with a light one inside it.
    painter->setPen(box->palette.color(QPalette::Mid));
    painter->drawRect(frame.adjusted(0, 0, -2, -2));
    painter->setPen(box->palette.color(QPalette::Light));
    painter->drawRect(frame.adjusted(1, 1, -1, -1));
    painter->fillRect(caption, box->palette.brush(QPalette::Window));
    painter->restore();
    drawItemText(painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, box->palette,
                 box->state.testFlag(State_Enabled), box->text, QPalette::WindowText);
}

} // namespace shell
