#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QString>
#include <memory>
#include <optional>

#include "document/edit.h"
#include "document/edit_history.h"
#include "document/image_decoder.h"
#include "document/sheet_files.h"
#include "tilemap/sheet.h"

// The open sheet and everything that belongs to it: pixels, tile map, tile size, grid flag,
// remapped, grid colour and the history of its edits. It is the only place that changes the sheet,
// it asks nothing (the window asks first, the command line never), and it says when it changed.
class Document : public QObject {
    Q_OBJECT
public:
    explicit Document(QObject* parent = nullptr);
    ~Document() override;

    const Sheet& sheet() const { return sheet_; }
    const QImage& workingImage() const { return sheet_.workingImage; }
    const TileMap& tileMap() const { return sheet_.tileMap; }
    TileShape tileSize() const { return sheet_.tileSize; }
    int gridFlag() const { return sheet_.gridFlag; }
    int remapped() const { return sheet_.remapped; }
    TileShape tilePitch() const { return sheet_.tilePitch(); }
    TileLayout tileLayout() const { return sheet_.tileLayout(); }
    bool hasImage() const { return sheet_.hasImage(); }
    // The file the sheet was opened from, or last saved as; empty when it has none.
    const QString& sheetPath() const { return sheetPath_; }
    // The file the sheet was opened from, and whether it had a grid then: what levels made against
    // the sheet refer to, and what the tile map counts from.
    const QString& openedPath() const { return openedPath_; }
    int openedGridFlag() const { return openedGridFlag_; }

    // The colour of grid lines inserted from now on. A setting, not an edit of the sheet.
    QRgb gridColor() const { return gridColor_; }
    void setGridColor(QRgb color);

    // Whether sheets opened from now on keep pixels that are not opaque (straight alpha) rather
    // than lay them over black. A setting, not an edit of the sheet.
    bool keepsTransparency() const { return keepTransparency_; }
    void setKeepTransparency(bool keep) { keepTransparency_ = keep; }
    // How opened files are decoded under that setting.
    Transparency transparency() const
    {
        return keepTransparency_ ? Transparency::Keep : Transparency::OverBlack;
    }
    // The open sheet's file had pixels that are not opaque, and they were laid over black.
    bool transparencyDropped() const { return transparencyDropped_; }

    // Files. Each returns an empty string on success, otherwise the reason in plain words naming
    // the file; a failure changes nothing.
    //
    // A new sheet with the given layout; it starts a new history, and nothing is unsaved.
    void replaceSheet(QImage image, TileShape tileSize, int gridFlag, const QString& path = {},
                      bool transparencyDropped = false);
    QString openSheet(const QString& path, TileShape tileSize, int gridFlag);
    QString saveSheet(const QString& path, ImageFileFormat format);
    // Reads a map file of the sheet's geometry and makes it the tile map, as a step that can be
    // undone.
    QString openMap(const QString& path);
    QString saveMap(const QString& path);

    // Edits: each is done and recorded, or refused with the reason and nothing changed. The tile
    // size is the document's own.
    QString swapTiles(int x1, int y1, int x2, int y2);
    QString moveTiles(const QRect& block, QPoint offset);
    QString insertGrid();
    QString removeGrid();
    QString resetMap();
    QString changeTileMode(TileShape tileSize, bool restoreFirst);
    QString perform(std::unique_ptr<Edit> edit);

    QString undo();
    QString redo();
    // The names of the steps Undo and Redo would take ("Swap Tiles"), empty when there is none.
    QString undoName() const;
    QString redoName() const;

    // The image differs from the file it was last opened from or saved to.
    bool imageUnsaved() const;
    // The tile map changed since it was last saved or read from a file.
    bool mapUnsaved() const;
    // Tiles are moved and their map is not saved: the only record of the original order.
    bool mapAtRisk() const { return sheet_.remapped == 1 && mapUnsaved(); }
    // The image (saved to path, when given) or the map now equals a file.
    void markImageSaved(const QString& path = {});
    void markMapSaved();

    const EditHistory& history() const { return history_; }
    // The history's memory budget; by default the larger of 256 MiB and the sheet's own bytes.
    void setHistoryBudget(qint64 bytes);

    // One step split in two, so that its heavy half can run away from the window's thread:
    // begin…() and finish() on the document's thread, prepare() anywhere in between, while nothing
    // else changes the document.
    class PendingStep {
    public:
        PendingStep() = default;
        PendingStep(PendingStep&&) = default;
        PendingStep& operator=(PendingStep&&) = default;
        // Only reads the sheet.
        void prepare();
        bool isEmpty() const { return edit_ == nullptr; }
        // Whether preparing it can take long enough to be worth another thread.
        bool isHeavy() const { return edit_ && edit_->isHeavy(); }

    private:
        friend class Document;
        enum class Kind { New, Undo, Redo };
        const Sheet* sheet_ = nullptr;
        std::unique_ptr<Edit> owned_;
        Edit* edit_ = nullptr;
        Kind kind_ = Kind::New;
        QString error_;
        bool prepared_ = false;
    };
    PendingStep beginEdit(std::unique_ptr<Edit> edit);
    // Empty when there is nothing to undo or redo.
    PendingStep beginUndo();
    PendingStep beginRedo();
    // Puts a prepared step in (preparing it first if that did not happen) and records it.
    // Returns its error, if any; then nothing changed.
    QString finish(PendingStep step);

signals:
    // After every change of the sheet, its history or its saved state.
    void changed();

private:
    void fitBudget();
    PendingStep begin(Edit* edit, PendingStep::Kind kind, std::unique_ptr<Edit> owned = {});

    Sheet sheet_;
    QRgb gridColor_ = qRgb(255, 0, 255);
    bool keepTransparency_ = false;
    bool transparencyDropped_ = false;
    QString sheetPath_;
    QString openedPath_;
    int openedGridFlag_ = 0;
    EditHistory history_;
    std::optional<qint64> budget_;  // set by the caller; otherwise the default
};
