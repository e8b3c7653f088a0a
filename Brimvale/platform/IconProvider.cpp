#include "platform/IconProvider.h"

#include <QPainter>
#include <QUrl>

#include "platform/SymbolIcons.h"

namespace brimvale {

namespace {

QPixmap fromFile(const QString& file, int side) {
    return file.isEmpty() ? QPixmap() : QIcon(file).pixmap(side, side);
}

}  // namespace

IconProvider::IconProvider() : QQuickImageProvider(QQuickImageProvider::Pixmap) {}

QPixmap IconProvider::tinted(const QPixmap& picture, const QColor& colour, bool lightIsClear) {
    QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            int alpha = qAlpha(p);
            if (lightIsClear) alpha = alpha * (255 - qGray(p)) / 255;
            line[x] =
                qRgba(colour.red(), colour.green(), colour.blue(), alpha * colour.alpha() / 255);
        }
    }
    return QPixmap::fromImage(image);
}

QString IconProvider::itemIconName(const QString& name, bool folder) const {
    if (folder) return QStringLiteral("folder");
    const QMimeType type = mimes_.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    for (const QString& candidate : {type.iconName(), type.genericIconName()})
        if (!candidate.isEmpty() && QIcon::hasThemeIcon(candidate)) return candidate;
    return QStringLiteral("text-x-generic");
}

QPixmap IconProvider::symbol(const QString& symbolName, const QColor& colour, int side) {
    const QString name = SymbolIcons::freedesktopName(symbolName);
    // A symbolic theme icon is drawn in one colour already; the bundled ones are black on white.
    const QIcon themed = QIcon::fromTheme(name + QStringLiteral("-symbolic"));
    if (!themed.isNull()) return tinted(themed.pixmap(side, side), colour, false);
    return tinted(fromFile(SymbolIcons::bundledFile(name), side), colour, true);
}

QPixmap IconProvider::item(const QString& name, bool folder, const QColor& colour, int side) {
    const QString iconName = itemIconName(name, folder);
    const QIcon themed = QIcon::fromTheme(iconName);
    if (!themed.isNull()) return themed.pixmap(side, side);
    const QString bundled = SymbolIcons::bundledFile(folder ? "folder" : "text-x-generic");
    return tinted(fromFile(bundled, side), colour, true);
}

QPixmap IconProvider::requestPixmap(const QString& id, QSize* size, const QSize& requestedSize) {
    const int side = requestedSize.width() > 0 ? requestedSize.width() : 32;
    const QString key = id + QLatin1Char('@') + QString::number(side);
    auto cached = cache_.constFind(key);
    QPixmap picture;
    if (cached != cache_.constEnd()) {
        picture = *cached;
    } else {
        const QStringList parts = id.split(QLatin1Char('/'));
        const QColor colour(QLatin1Char('#') + parts.value(parts.size() - 1));
        if (parts.size() == 3 && parts[0] == QLatin1String("symbol")) {
            picture = symbol(QUrl::fromPercentEncoding(parts[1].toUtf8()), colour, side);
        } else if (parts.size() == 4 && parts[0] == QLatin1String("item")) {
            picture =
                item(QUrl::fromPercentEncoding(parts[2].toUtf8()), parts[1] == "d", colour, side);
        }
        // Bounded: a folder of odd names cannot grow it without end.
        if (cache_.size() > 2000) cache_.clear();
        cache_.insert(key, picture);
    }
    if (size) *size = picture.size();
    return picture;
}

}  // namespace brimvale
