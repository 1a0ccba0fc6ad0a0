#include "desktoppalette.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace shell {

namespace {

double relativeLuminance(const QColor& colour) {
    auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

QColor blend(const QColor& from, const QColor& to, double share) {
    return QColor::fromRgbF(
        static_cast<float>(from.redF() + (to.redF() - from.redF()) * share),
        static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * share),
        static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * share));
}

constexpr double MarkContrast = 3.0;
constexpr double DisabledShare = 0.5;

} // namespace

bool isLightPalette(const QPalette& palette) {
    return relativeLuminance(palette.color(QPalette::Window)) >
           relativeLuminance(palette.color(QPalette::WindowText));
}

double contrastRatioBetween(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette withDisabledColours(QPalette palette) {
    const std::pair<QPalette::ColorRole, QPalette::ColorRole> drawnOn[] = {
        {QPalette::WindowText, QPalette::Window},
        {QPalette::ButtonText, QPalette::Button},
        {QPalette::Text, QPalette::Base},
        {QPalette::Highlight, QPalette::Base},
    };
    for (const auto& [role, background] : drawnOn) {
        const QColor colour = palette.color(QPalette::Active, role);
        if (palette.color(QPalette::Disabled, role) != colour)
            continue;
        palette.setColor(
            QPalette::Disabled, role,
            blend(colour, palette.color(QPalette::Disabled, background), DisabledShare));
    }
    return palette;
}

QColor focusMarkColour(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const QColor text = palette.color(QPalette::WindowText);
    const QColor highlight = palette.color(QPalette::Highlight);
    for (int step = 0; step <= 10; ++step) {
        const QColor mark = blend(highlight, text, step / 10.0);
        if (contrastRatioBetween(mark, window) >= MarkContrast)
            return mark;
    }
    return text;
}

} // namespace shell
