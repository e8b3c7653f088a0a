#include "model/StagedItem.h"

#include "QuenwickCore/Utf8.h"

namespace brimvale {

QString StagedItem::displayPath() const {
    return QString::fromStdString(quenwick::utf8::display(path));
}

QString StagedItem::caution() const {
    if (!removal || !removal->caution()) return {};
    return QString::fromStdString(*removal->caution());
}

}  // namespace brimvale
