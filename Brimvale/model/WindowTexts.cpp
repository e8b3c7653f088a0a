#include "model/WindowTexts.h"

#include <QMetaEnum>

#include <cmath>

#include "model/AppModel.h"
#include "model/Saturating.h"

namespace brimvale {

using quenwick::FileTree;

WindowTexts::WindowTexts(AppModel* model, QObject* parent) : QObject(parent), model_(model) {
    for (auto signal :
         {&AppModel::targetChanged, &AppModel::adminScanChanged, &AppModel::phaseChanged,
          &AppModel::progressChanged, &AppModel::focusChanged, &AppModel::revisionChanged,
          &AppModel::volumeChanged, &AppModel::startupVolumeChanged, &AppModel::lowTideChanged,
          &AppModel::erasingBytesChanged, &AppModel::trashLedgerChanged,
          &AppModel::trashBytesChanged, &AppModel::storageChanged})
        connect(model_, signal, this, &WindowTexts::changed);
    for (auto signal : {&AppModel::hoveredChanged, &AppModel::segmentsChanged})
        connect(model_, signal, this, &WindowTexts::hoverChanged);
}

QString WindowTexts::items(int64_t count) {
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" item") : QStringLiteral(" items"));
}

QString WindowTexts::bytes(uint64_t count) const {
    return model_->formatBytes(count);
}

uint64_t WindowTexts::availableBytes() const {
    if (const auto& v = model_->startupVolume()) return v->available;
    if (const auto& v = model_->volume()) return v->available;
    return 0;
}

QString WindowTexts::subtitle() const {
    return model_->targetTitle() +
           (model_->adminScan() ? QStringLiteral(" · scanned as administrator") : QString());
}

QString WindowTexts::targetSymbol() const {
    return model_->target().kind() == ScanTarget::Kind::startupDisk
               ? QStringLiteral("internaldrive")
               : QStringLiteral("folder");
}

bool WindowTexts::scanning() const {
    return model_->phase() == Phase::scanning;
}

bool WindowTexts::catchingUp() const {
    return model_->phase() == Phase::updating;
}

bool WindowTexts::canGoUp() const {
    return model_->phase() == Phase::ready && model_->breadcrumbs().size() > 1;
}

QString WindowTexts::centreTitle() const {
    if (scanning()) return QStringLiteral("Scanning");
    if (!model_->tree()) return {};
    return model_->label(AppModel::Kind::node(model_->focus()));
}

QString WindowTexts::centreDetail() const {
    if (scanning()) return bytes(model_->progress() ? model_->progress()->bytes : 0);
    if (!model_->tree()) return {};
    return bytes(model_->tree()->size(model_->focus()));
}

QString WindowTexts::centreFree() const {
    if (scanning() || !model_->tree() || model_->focus() != FileTree::root || !model_->volume())
        return {};
    const auto& v = *model_->volume();
    return bytes(clampedSubtract(v.total, v.used())) + QStringLiteral(" free");
}

QString WindowTexts::listTitle() const {
    return model_->tree() ? model_->label(AppModel::Kind::node(model_->focus()))
                          : model_->targetTitle();
}

QString WindowTexts::hoverLabel() const {
    return model_->hovered() ? model_->label(*model_->hovered()) : QString();
}

QString WindowTexts::hoverSize() const {
    return model_->hovered() ? bytes(model_->size(*model_->hovered())) : QString();
}

QString WindowTexts::hoverShare() const {
    if (!model_->hovered()) return {};
    uint64_t ring = 0;
    for (const auto& s : model_->segments())
        if (s.depth == 1) ring += s.bytes;
    if (ring == 0) return {};
    const double share =
        static_cast<double>(model_->size(*model_->hovered())) / static_cast<double>(ring) * 100.0;
    return QString::number(static_cast<long long>(std::llround(share))) + QStringLiteral("%");
}

QString WindowTexts::storageName() const {
    const auto s = model_->storage();
    return s ? s->name : QString();
}

QString WindowTexts::storageUsage() const {
    const auto s = model_->storage();
    if (!s) return {};
    return bytes(clampedSubtract(s->total, s->available)) + QStringLiteral(" of ") +
           bytes(s->total) + QStringLiteral(" used, ") + bytes(s->available) +
           QStringLiteral(" available");
}

int WindowTexts::stagedCount() const {
    return static_cast<int>(model_->lowTide().size());
}

QString WindowTexts::trayCount() const {
    if (model_->lowTide().empty()) return QStringLiteral("Nothing staged");
    return items(stagedCount()) + QStringLiteral(" · ") + bytes(model_->stagedBytes());
}

QString WindowTexts::reviewTitle() const {
    return QStringLiteral("Move ") + items(stagedCount()) + QStringLiteral(" to the Trash?");
}

QString WindowTexts::reviewSubtitle() const {
    return bytes(model_->stagedBytes()) +
           QStringLiteral(
               " will be moved to the Trash. You can put anything back from the Trash in "
               "your file manager until you empty it.");
}

QString WindowTexts::spaceAfterMove() const {
    // A move to the Trash frees nothing until the Trash is emptied.
    return QStringLiteral("Space available after moving: ") + bytes(availableBytes());
}

QString WindowTexts::spaceAfterDelete() const {
    return QStringLiteral("Space available after deleting: ") +
           bytes(saturatingAdd(availableBytes(), model_->stagedBytes()));
}

int WindowTexts::cautionCount() const {
    int n = 0;
    for (const auto& item : model_->lowTide())
        if (!item.caution().isEmpty()) ++n;
    return n;
}

QString WindowTexts::cautionConfirm() const {
    const int n = cautionCount();
    return QStringLiteral("I've read the ") + QString::number(n) +
           (n == 1 ? QStringLiteral(" warning") : QStringLiteral(" warnings")) +
           QStringLiteral(" above and still want to remove ") +
           (n == 1 ? QStringLiteral("it") : QStringLiteral("them")) + QStringLiteral(".");
}

QString WindowTexts::deleteTitle() const {
    return QStringLiteral("Delete ") + items(stagedCount()) + QStringLiteral(" permanently?");
}

QString WindowTexts::deleteMessage() const {
    return bytes(model_->stagedBytes()) +
           QStringLiteral(
               " will be deleted right away. Nothing goes to the Trash, so you can't put "
               "any of it back. This can't be undone.");
}

WindowTexts::SavingsState WindowTexts::savingsState() const {
    if (model_->erasingBytes() > 0) return SavingsState::erasing;
    if (model_->ledgerWaitingBytes() > 0) return SavingsState::waiting;
    if (model_->ledgerFreedBytes() > 0) return SavingsState::freed;
    return SavingsState::none;
}

QString WindowTexts::savingsKind() const {
    return QString::fromLatin1(
        QMetaEnum::fromType<SavingsState>().valueToKey(static_cast<int>(savingsState())));
}

QString WindowTexts::savingsLong() const {
    switch (savingsState()) {
        case SavingsState::erasing:
            return QStringLiteral("Deleting <b>") + bytes(model_->erasingBytes()) + "</b>";
        case SavingsState::waiting:
            return QStringLiteral("Brimvale cleared <b>") + bytes(model_->ledgerWaitingBytes()) +
                   QStringLiteral("</b>, waiting in the Trash");
        case SavingsState::freed:
            return QStringLiteral("Freed by Brimvale: <b>") + bytes(model_->ledgerFreedBytes()) +
                   "</b>";
        case SavingsState::none:
            break;
    }
    return {};
}

QString WindowTexts::savingsShort() const {
    switch (savingsState()) {
        case SavingsState::waiting:
            return QStringLiteral("Cleared <b>") + bytes(model_->ledgerWaitingBytes()) + "</b>";
        case SavingsState::freed:
            return QStringLiteral("Freed <b>") + bytes(model_->ledgerFreedBytes()) + "</b>";
        default:
            return savingsLong();
    }
}

QString WindowTexts::emptyLong() const {
    if (savingsState() != SavingsState::waiting) return {};
    return QStringLiteral("Empty it and you'll have <b>") +
           bytes(saturatingAdd(availableBytes(), model_->ledgerWaitingBytes())) +
           QStringLiteral("</b> available");
}

QString WindowTexts::emptyShort() const {
    if (savingsState() != SavingsState::waiting) return {};
    return QStringLiteral("<b>") +
           bytes(saturatingAdd(availableBytes(), model_->ledgerWaitingBytes())) +
           QStringLiteral("</b> if emptied");
}

QString WindowTexts::savingsTooltip() const {
    QString text = QStringLiteral("Space freed so far by items Brimvale cleared: ") +
                   bytes(model_->ledgerFreedBytes()) + QStringLiteral(".");
    if (const uint64_t waiting = model_->ledgerWaitingBytes(); waiting > 0)
        text += QStringLiteral("\n") + bytes(waiting) +
                QStringLiteral(
                    " Brimvale moved to the Trash is still there. It counts as used "
                    "until the Trash is emptied.");
    const auto s = model_->storage();
    if (const uint64_t trash =
            s ? std::max<uint64_t>(s->trash, model_->trashBytes()) : model_->trashBytes();
        trash > 0)
        text += QStringLiteral("\nThe Trash holds ") + bytes(trash) +
                QStringLiteral(" in all. Emptying it in your file manager frees that space.");
    return text;
}

QString WindowTexts::deleteNowMessage() const {
    return QStringLiteral("The ") + bytes(model_->ledgerWaitingBytes()) +
           QStringLiteral(
               " Brimvale moved to the Trash will be deleted now, faster than emptying "
               "the Trash. Nothing else in the Trash is touched. This can't be undone.");
}

QString WindowTexts::checkboxHelp(StageState state, const QString& name) const {
    switch (state) {
        case StageState::on:
            return QStringLiteral("In the Cleanup List");
        case StageState::insideStaged:
            return QStringLiteral("Already in the Cleanup List as part of a folder you ticked");
        case StageState::off:
            break;
    }
    return QStringLiteral("Add ") + name + QStringLiteral(" to the Cleanup List");
}

QString WindowTexts::resultTitle(const TrashResult& result) const {
    const QString what = items(result.movedCount) + QStringLiteral(" (") +
                         bytes(result.movedBytes) + QStringLiteral(")");
    return result.permanent ? QStringLiteral("Deleted ") + what
                            : QStringLiteral("Moved ") + what + QStringLiteral(" to the Trash");
}

QString WindowTexts::resultBody(const TrashResult& result) const {
    return result.permanent ? QStringLiteral(
                                  "They're gone from your computer. The space comes back over the "
                                  "next moments as Brimvale finishes deleting in the background.")
                            : QStringLiteral(
                                  "The space comes back once you empty the Trash. Until then, you "
                                  "can still put anything back.");
}

}  // namespace brimvale
