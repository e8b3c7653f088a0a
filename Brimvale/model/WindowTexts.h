#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

#include "model/AppEnums.h"
#include "model/TrashResult.h"

// Every text of the main window, the Cleanup List tray, the review sheet and the savings line,
// built from its AppModel, so that the views only place them. Properties notify through
// `changed` (anything but the pointer) and `hoverChanged` (what the hovered arc shows), so that
// moving the pointer recomputes only the hover info. Bold parts are marked with <b></b> (the
// views show them as styled text). GUI thread; reads the model it was given, which outlives it.
namespace brimvale {

class AppModel;

class WindowTexts : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY changed)
    Q_PROPERTY(QString targetSymbol READ targetSymbol NOTIFY changed)
    Q_PROPERTY(bool scanning READ scanning NOTIFY changed)
    Q_PROPERTY(bool catchingUp READ catchingUp NOTIFY changed)
    Q_PROPERTY(bool canGoUp READ canGoUp NOTIFY changed)
    Q_PROPERTY(QString centreTitle READ centreTitle NOTIFY changed)
    Q_PROPERTY(QString centreDetail READ centreDetail NOTIFY changed)
    Q_PROPERTY(QString centreFree READ centreFree NOTIFY changed)
    Q_PROPERTY(QString listTitle READ listTitle NOTIFY changed)
    Q_PROPERTY(QString hoverLabel READ hoverLabel NOTIFY hoverChanged)
    Q_PROPERTY(QString hoverSize READ hoverSize NOTIFY hoverChanged)
    Q_PROPERTY(QString hoverShare READ hoverShare NOTIFY hoverChanged)
    Q_PROPERTY(QString storageName READ storageName NOTIFY changed)
    Q_PROPERTY(QString storageUsage READ storageUsage NOTIFY changed)
    Q_PROPERTY(int stagedCount READ stagedCount NOTIFY changed)
    Q_PROPERTY(QString trayCount READ trayCount NOTIFY changed)
    Q_PROPERTY(QString reviewTitle READ reviewTitle NOTIFY changed)
    Q_PROPERTY(QString reviewSubtitle READ reviewSubtitle NOTIFY changed)
    Q_PROPERTY(QString spaceAfterMove READ spaceAfterMove NOTIFY changed)
    Q_PROPERTY(QString spaceAfterDelete READ spaceAfterDelete NOTIFY changed)
    Q_PROPERTY(int cautionCount READ cautionCount NOTIFY changed)
    Q_PROPERTY(QString cautionConfirm READ cautionConfirm NOTIFY changed)
    Q_PROPERTY(QString deleteTitle READ deleteTitle NOTIFY changed)
    Q_PROPERTY(QString deleteMessage READ deleteMessage NOTIFY changed)
    Q_PROPERTY(QString savingsKind READ savingsKind NOTIFY changed)
    Q_PROPERTY(QString savingsLong READ savingsLong NOTIFY changed)
    Q_PROPERTY(QString savingsShort READ savingsShort NOTIFY changed)
    Q_PROPERTY(QString emptyLong READ emptyLong NOTIFY changed)
    Q_PROPERTY(QString emptyShort READ emptyShort NOTIFY changed)
    Q_PROPERTY(QString savingsTooltip READ savingsTooltip NOTIFY changed)
    Q_PROPERTY(QString deleteNowMessage READ deleteNowMessage NOTIFY changed)

public:
    // What the savings line shows: nothing, an erase running, bytes waiting in the Trash, or
    // what was freed.
    enum class SavingsState { none, erasing, waiting, freed };
    Q_ENUM(SavingsState)

    explicit WindowTexts(AppModel* model, QObject* parent = nullptr);

    // "1 item", "2 items".
    [[nodiscard]] static QString items(int64_t count);

    QString subtitle() const;
    QString targetSymbol() const;
    bool scanning() const;
    bool catchingUp() const;
    bool canGoUp() const;
    QString centreTitle() const;
    QString centreDetail() const;
    QString centreFree() const;
    QString listTitle() const;
    QString hoverLabel() const;
    QString hoverSize() const;
    QString hoverShare() const;
    QString storageName() const;
    QString storageUsage() const;
    int stagedCount() const;
    QString trayCount() const;
    QString reviewTitle() const;
    QString reviewSubtitle() const;
    QString spaceAfterMove() const;
    QString spaceAfterDelete() const;
    int cautionCount() const;
    QString cautionConfirm() const;
    QString deleteTitle() const;
    QString deleteMessage() const;
    SavingsState savingsState() const;
    // The same as a word for the views: "none", "erasing", "waiting" or "freed".
    QString savingsKind() const;
    QString savingsLong() const;
    QString savingsShort() const;
    QString emptyLong() const;
    QString emptyShort() const;
    QString savingsTooltip() const;
    QString deleteNowMessage() const;

    // The item checkbox's help for a node in that state.
    Q_INVOKABLE QString checkboxHelp(brimvale::StageState state, const QString& name) const;
    // The review sheet's result state.
    Q_INVOKABLE QString resultTitle(const brimvale::TrashResult& result) const;
    Q_INVOKABLE QString resultBody(const brimvale::TrashResult& result) const;

signals:
    void changed();
    void hoverChanged();

private:
    QString bytes(uint64_t count) const;
    uint64_t availableBytes() const;

    AppModel* model_;
};

}  // namespace brimvale
