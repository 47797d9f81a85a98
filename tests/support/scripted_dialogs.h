#pragma once

#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

#include "platform/dialogs.h"

// Dialogs answered from queues that a test fills beforehand. A question without a queued answer
// fails the test, so an unexpected dialog is caught. Everything asked is recorded.
class ScriptedDialogs : public Dialogs {
public:
    std::deque<FileChoice> openAnswers;
    std::deque<FileChoice> saveAnswers;
    std::deque<QStringList> openFilesAnswers;
    std::deque<std::optional<QRgb>> colorAnswers;
    std::deque<bool> yesNoAnswers;
    std::deque<GridAnswer> gridAnswers;
    std::deque<UnsavedAnswer> unsavedAnswers;
    std::deque<OutdatedSheetAnswer> outdatedSheetAnswers;
    std::deque<std::optional<TileSizeAnswer>> tileSizeAnswers;

    QStringList asked;   // "open: title | filter", "save: ...", "color", "yesno: text", ...
    QStringList folders;  // the folder each file dialog opened in, in order
    QStringList errors;  // texts of showError
    QStringList abouts;  // texts of showAbout
    QStringList infos;   // texts of showInfo
    std::vector<QRgb> colorInitials;
    // Runs while the grid question is asked, as if it stood on screen that long.
    std::function<void()> duringGridQuestion;

    std::optional<QRgb> chooseColor(QRgb initial) override;
    bool askYesNo(const QString& text) override;
    GridAnswer askGridLayout() override;
    UnsavedAnswer askUnsaved(const QString& text) override;
    OutdatedSheetAnswer askOutdatedSheet(const QString& text) override;
    std::optional<TileSizeAnswer> askTileSize(TileShape current) override;
    void showAbout(const QString& text) override;
    void showError(const QString& text) override;
    void showInfo(const QString& text) override;

    // True when every queued answer was used.
    bool allAnswered() const;

protected:
    FileChoice chooseOpenFile(const QString& title, const QString& filter,
                              const QString& folder) override;
    FileChoice chooseSaveFile(const QString& title, const QString& filter,
                              const QString& folder) override;
    QStringList chooseOpenFiles(const QString& title, const QString& filter,
                                const QString& folder) override;
};
