#include "simsnapshot.h"

#include <QBuffer>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QMutex>
#include <QRect>

namespace devicesim {

namespace {

// Pixels are set directly instead of through QPainter and fonts, which would need a GUI application object.
void fillBox(QImage &image, const QRect &rect, QRgb colour)
{
    const QRect clipped = rect.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        QRgb *pLine = reinterpret_cast<QRgb *>(image.scanLine(y));
        std::fill(pLine + clipped.left(), pLine + clipped.right() + 1, colour);
    }
}

// Seven-segment digit, so the channel number is readable in the picture.
void drawDigit(QImage &image, int iDigit, int iX, int iY)
{
    static const int segmentMasks[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    const int iW = 40, iH = 80, iT = 8;
    const QRect segments[7] = {
        {iX, iY, iW, iT},
        {iX + iW - iT, iY, iT, iH / 2},
        {iX + iW - iT, iY + iH / 2, iT, iH / 2},
        {iX, iY + iH - iT, iW, iT},
        {iX, iY + iH / 2, iT, iH / 2},
        {iX, iY, iT, iH / 2},
        {iX, iY + iH / 2 - iT / 2, iW, iT},
    };
    for (int i = 0; i < 7; ++i) {
        if (segmentMasks[iDigit] & (1 << i))
            fillBox(image, segments[i], qRgb(255, 255, 255));
    }
}

QByteArray render(int iChannel)
{
    QImage image(320, 240, QImage::Format_RGB32);
    const QColor base = QColor::fromHsv((iChannel * 47) % 360, 170, 210);
    for (int y = 0; y < image.height(); ++y)
        fillBox(image, QRect(0, y, image.width(), 1), base.darker(100 + y / 3).rgb());

    const QByteArray baDigits = QByteArray::number(iChannel);
    const int iSpacing = 56;
    int iX = (image.width() - (baDigits.size() * iSpacing - 16)) / 2;
    for (char cDigit : baDigits) {
        drawDigit(image, cDigit - '0', iX, 80);
        iX += iSpacing;
    }

    QByteArray baJpeg;
    QBuffer buffer(&baJpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(85);
    return writer.write(image) ? baJpeg : QByteArray();
}

} // namespace

QByteArray channelSnapshot(int iChannel)
{
    if (iChannel < 0 || iChannel > kMaxChannel)
        return {};
    static QMutex mutex;
    static QHash<int, QByteArray> hCache;
    QMutexLocker locker(&mutex);
    auto it = hCache.find(iChannel);
    if (it == hCache.end())
        it = hCache.insert(iChannel, render(iChannel));
    return it.value();
}

} // namespace devicesim
