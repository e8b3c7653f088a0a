#pragma once

#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QQuickImageProvider>

// The pictures of the window's symbols and items, for `image://icons/...` in QML:
//   symbol/<symbol name>/<colour>  a design symbol in one colour (the theme's symbolic icon, else
//                                  the bundled picture), e.g. symbol/chevron.left/5f5f6b
//   item/<d|f>/<name>/<colour>     a folder's or a file's icon: the icon theme's icon for the MIME
//                                  type its name suggests, else a bundled one in that colour.
// An item's icon depends on its name only (nothing is read from the disk on the GUI thread), so
// pictures are cached by name, size and colour. Names arrive percent-encoded. GUI thread (Qt asks
// pixmap providers there).
namespace brimvale {

class IconProvider : public QQuickImageProvider {
public:
    IconProvider();

    QPixmap requestPixmap(const QString& id, QSize* size, const QSize& requestedSize) override;

    // The theme icon name for an item: "folder" for a folder, else its MIME type's icon, its
    // generic icon, or "text-x-generic" when the theme has neither.
    [[nodiscard]] QString itemIconName(const QString& name, bool folder) const;
    // A picture in one colour: dark pixels take the colour, light ones become transparent.
    [[nodiscard]] static QPixmap tinted(const QPixmap& picture, const QColor& colour,
                                        bool lightIsClear);

private:
    QPixmap symbol(const QString& symbolName, const QColor& colour, int side);
    QPixmap item(const QString& name, bool folder, const QColor& colour, int side);

    QMimeDatabase mimes_;
    QHash<QString, QPixmap> cache_;
};

}  // namespace brimvale
