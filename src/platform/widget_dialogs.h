#pragma once

#include <QStringList>

#include "platform/dialogs.h"

class QWidget;

// The real dialogs: Qt's own file and colour dialogs (the same on every desktop, so they behave
// as described whatever the platform theme), message boxes and the grid question window.
class WidgetDialogs : public Dialogs {
public:
    explicit WidgetDialogs(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    std::optional<QRgb> chooseColor(QRgb initial) override;
    bool askYesNo(const QString& text) override;
    GridAnswer askGridLayout() override;
    UnsavedAnswer askUnsaved(const QString& text) override;
    OutdatedSheetAnswer askOutdatedSheet(const QString& text) override;
    std::optional<TileSizeAnswer> askTileSize(TileShape current) override;
    void showAbout(const QString& text) override;
    void showError(const QString& text) override;
    void showInfo(const QString& text) override;

    // "label|pattern|label|pattern" as name filters for QFileDialog: each label is shown as it
    // stands, and its pattern list is appended as the hidden details that Qt filters by.
    static QStringList nameFilters(const QString& filter);

protected:
    FileChoice chooseOpenFile(const QString& title, const QString& filter,
                              const QString& folder) override;
    FileChoice chooseSaveFile(const QString& title, const QString& filter,
                              const QString& folder) override;
    QStringList chooseOpenFiles(const QString& title, const QString& filter,
                                const QString& folder) override;

private:
    FileChoice runFileDialog(const QString& title, const QString& filter, const QString& folder,
                             bool save);
    QWidget* dialogOwner() const;

    QWidget* owner_;
};
