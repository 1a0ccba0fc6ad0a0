#include "cursorfile.h"

#include "join/failure.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

namespace shell {

namespace {

constexpr int InvalidPicture = 481;
constexpr qint64 LargestCursorFile = 4 * 1024 * 1024;
constexpr int DirectorySize = 6;
constexpr int EntrySize = 16;
constexpr quint16 IconType = 1;
constexpr quint16 CursorType = 2;

[[noreturn]] void invalid(const QString& path) {
    throw join::Failure(InvalidPicture, "Invalid picture: " + path.toStdString());
}

quint16 word(const QByteArray& bytes, int offset) {
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

void setWord(QByteArray& bytes, int offset, quint16 value) {
    qToLittleEndian<quint16>(value, bytes.data() + offset);
}

} // namespace

QCursor LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        invalid(path);
    QByteArray bytes = file.read(LargestCursorFile + 1);
    if (bytes.size() > LargestCursorFile || bytes.size() < DirectorySize + EntrySize)
        invalid(path);

    const quint16 type = word(bytes, 2);
    if (word(bytes, 0) != 0 || (type != IconType && type != CursorType) || word(bytes, 4) == 0)
        invalid(path);
    // In a cursor's directory entry the fields an icon uses for planes and bit count hold the
    // hot spot. Qt's icon reader decodes the images; handed the file as an icon with those
    // fields cleared, it reads cursors as well.
    int hotX = 0;
    int hotY = 0;
    if (type == CursorType) {
        for (int entry = 0; entry < word(bytes, 4); ++entry) {
            const int at = DirectorySize + entry * EntrySize;
            if (at + EntrySize > bytes.size())
                invalid(path);
            if (entry == 0) {
                hotX = word(bytes, at + 4);
                hotY = word(bytes, at + 6);
            }
            setWord(bytes, at + 4, 0);
            setWord(bytes, at + 6, 0);
        }
        setWord(bytes, 2, IconType);
    }

    const QImage image = QImage::fromData(bytes, "ICO");
    if (image.isNull())
        invalid(path);
    return QCursor(QPixmap::fromImage(image), qBound(0, hotX, image.width() - 1),
                   qBound(0, hotY, image.height() - 1));
}

} // namespace shell
