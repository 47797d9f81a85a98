#pragma once

#include <QFileInfo>
#include <QRgb>
#include <QString>
#include <QStringList>
#include <optional>

#include "image/tile_layout.h"

// Every question the program asks goes through here, so that the commands can be driven by a
// script in tests. Filters are written as "label|pattern|label|pattern...".
struct FileChoice {
    QString path;         // empty when cancelled
    int filterIndex = 0;  // the entry selected when the dialog closed, from 0
};

enum class GridAnswer { Grid8x8, Grid16x16, NoGrid, Closed };
enum class UnsavedAnswer { Save, Discard, Cancel };
// An image file that levels use does not hold the sheet: save the sheet over it first, change the
// levels all the same, or do nothing.
enum class OutdatedSheetAnswer { Save, ApplyAnyway, Cancel };

// What Settings "Tile Size.." was told: the tile's width and height and whether the sheet
// already has a grid.
struct TileSizeAnswer {
    TileShape tileSize{16};
    bool gridded = false;
};
inline constexpr int kLeastTileSize = 2;
inline constexpr int kMostTileSize = 256;

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // The file dialogs open in the folder of the last file the user named in this run: chosen in
    // one of them, or given another way (fileNamed); before any, where the platform starts them.
    FileChoice openFile(const QString& title, const QString& filter)
    {
        return remembered(chooseOpenFile(title, filter, folder_));
    }
    FileChoice saveFile(const QString& title, const QString& filter)
    {
        return remembered(chooseSaveFile(title, filter, folder_));
    }
    // Any number of existing files; empty when cancelled.
    QStringList openFiles(const QString& title, const QString& filter)
    {
        QStringList chosen = chooseOpenFiles(title, filter, folder_);
        if (!chosen.isEmpty())
            fileNamed(chosen.constFirst());
        return chosen;
    }
    // A file the user named without a file dialog: dropped, or given at start-up.
    void fileNamed(const QString& path)
    {
        if (!path.isEmpty())
            folder_ = QFileInfo(path).absolutePath();
    }

    // The colour chosen, or nullopt when cancelled. initial is also put into custom colour 0.
    virtual std::optional<QRgb> chooseColor(QRgb initial) = 0;
    virtual bool askYesNo(const QString& text) = 0;
    virtual GridAnswer askGridLayout() = 0;
    virtual UnsavedAnswer askUnsaved(const QString& text) = 0;
    virtual OutdatedSheetAnswer askOutdatedSheet(const QString& text) = 0;
    // The tile size (current shown first) and the grid check box; nullopt when cancelled.
    virtual std::optional<TileSizeAnswer> askTileSize(TileShape current) = 0;
    virtual void showAbout(const QString& text) = 0;
    virtual void showError(const QString& text) = 0;
    // A report that is not an error, such as what a run over several files did.
    virtual void showInfo(const QString& text) = 0;

protected:
    // The file dialogs themselves, opening in folder (empty: the platform's default).
    virtual FileChoice chooseOpenFile(const QString& title, const QString& filter,
                                      const QString& folder) = 0;
    virtual FileChoice chooseSaveFile(const QString& title, const QString& filter,
                                      const QString& folder) = 0;
    virtual QStringList chooseOpenFiles(const QString& title, const QString& filter,
                                        const QString& folder) = 0;

private:
    FileChoice remembered(FileChoice choice)
    {
        fileNamed(choice.path);
        return choice;
    }

    QString folder_;
};
