#pragma once

#include <QProxyStyle>

namespace shell {

// Draws the window's group boxes and option buttons the way the designed window shows them, on
// top of whatever style the application uses: a group box is an etched outline on its own
// background with the caption set into the top line, and an option button's caption starts close
// to its round indicator, so that the designed captions fit their designed widths.
class DesignedStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;
};

} // namespace shell
