#include "cursorfile.h"

#include "join/fs/failure.h"
#include "windowtexts.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>
#include <algorithm>
#include <vector>

namespace shell {

namespace {

constexpr qint64 LargestCursorFile = qint64{4} * 1024 * 1024;
constexpr int DirectorySize = 6;
constexpr int EntrySize = 16;
constexpr quint16 IconType = 1;
constexpr quint16 CursorType = 2;

[[noreturn]] void invalid(const QString& path) {
    throw join::Failure(join::ErrorNumber::InvalidPicture,
                        Window::tr("Invalid picture: %1").arg(path).toStdString());
}

quint16 word(const QByteArray& bytes, int offset) {
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

void setWord(QByteArray& bytes, int offset, quint16 value) {
    qToLittleEndian<quint16>(value, bytes.data() + offset);
}

struct CursorImage {
    QImage image;
    QPoint hotSpot;
};

} // namespace

QCursor loadCursorFile(const QString& path, qreal devicePixelRatio) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        invalid(path);
    QByteArray bytes = file.read(LargestCursorFile + 1);
    if (bytes.size() > LargestCursorFile || bytes.size() < DirectorySize + EntrySize)
        invalid(path);

    const quint16 type = word(bytes, 2);
    const int count = word(bytes, 4);
    if (word(bytes, 0) != 0 || (type != IconType && type != CursorType) || count == 0 ||
        DirectorySize + count * EntrySize > bytes.size())
        invalid(path);
    // In a cursor's directory entry the fields an icon uses for planes and bit count hold the
    // hot spot. Qt's icon reader decodes the images; handed the file as an icon with those
    // fields cleared, it reads cursors as well.
    std::vector<QPoint> hotSpots;
    for (int entry = 0; entry < count; ++entry) {
        const int at = DirectorySize + entry * EntrySize;
        hotSpots.push_back(type == CursorType ? QPoint(word(bytes, at + 4), word(bytes, at + 6))
                                              : QPoint());
        if (type == CursorType) {
            setWord(bytes, at + 4, 0);
            setWord(bytes, at + 6, 0);
        }
    }
    setWord(bytes, 2, IconType);

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ICO");
    std::vector<CursorImage> images;
    for (int entry = 0; entry < count; ++entry) {
        if (!reader.jumpToImage(entry))
            break;
        const QImage image = reader.read();
        if (!image.isNull())
            images.push_back({image, hotSpots[static_cast<size_t>(entry)]});
    }
    if (images.empty())
        invalid(path);

    // The smallest image gives the cursor's size on the screen; the first that holds enough
    // pixels for the screen's device pixel ratio is used, else the largest.
    std::stable_sort(images.begin(), images.end(), [](const CursorImage& a, const CursorImage& b) {
        return a.image.width() < b.image.width();
    });
    const int logicalWidth = images.front().image.width();
    auto chosen = std::find_if(images.begin(), images.end(), [&](const CursorImage& candidate) {
        return candidate.image.width() >= logicalWidth * devicePixelRatio;
    });
    if (chosen == images.end())
        --chosen;

    QPixmap pixmap = QPixmap::fromImage(chosen->image);
    const qreal scale = qreal(chosen->image.width()) / logicalWidth;
    pixmap.setDevicePixelRatio(scale);
    // Qt takes the hot spot in the cursor's size on the screen, and scales it for the image; its
    // X11 platform hands the image to the X server as it is and the hot spot unscaled, so there
    // the hot spot stays in the image's own pixels.
    const QPoint hotSpot = QGuiApplication::platformName() == u"xcb"
                               ? chosen->hotSpot
                               : (QPointF(chosen->hotSpot) / scale).toPoint();
    return QCursor(pixmap, qBound(0, hotSpot.x(), chosen->image.width() - 1),
                   qBound(0, hotSpot.y(), chosen->image.height() - 1));
}

} // namespace shell
