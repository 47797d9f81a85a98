#include "document/commands.h"
#include "document/image_decoder.h"
#include "document/path_extension.h"
#include "document/sheet_files.h"
#include "platform/dialogs.h"
#include "tilemap/tile_ops.h"

bool openImage(Document& doc, Dialogs& dialogs, const QString& path)
{
    QString file = path;
    if (file.isEmpty()) {
        file = dialogs.openFile(kOpenImageTitle, kImageOpenFilter).path;
        if (file.isEmpty())
            return false;
    }

    // Decode before touching the document, so a bad file costs the user nothing.
    DecodeResult decoded = loadImageFile(file);
    if (!decoded.ok()) {
        dialogs.showError(decoded.error);
        return false;
    }
    doc.workingImage = std::move(decoded.image);

    switch (dialogs.askGridLayout()) {
    case GridAnswer::Grid8x8:
        doc.gridFlag = 1;
        doc.tileSize = 8;
        break;
    case GridAnswer::Grid16x16:
        doc.gridFlag = 1;
        doc.tileSize = 16;
        break;
    case GridAnswer::NoGrid:
        doc.gridFlag = 0;
        doc.tileSize = 16;
        break;
    case GridAnswer::Closed:
        break;  // the layout in force before stays
    }
    rebuildTileMap(doc);
    doc.remapped = 0;
    doc.imageUnsaved = false;
    doc.mapUnsaved = false;
    return true;
}

bool saveImageAs(Document& doc, Dialogs& dialogs)
{
    if (!doc.hasImage())
        return false;
    const FileChoice choice = dialogs.saveFile(kSaveTitle, kImageSaveFilter);
    if (choice.path.isEmpty())
        return false;

    // The chosen filter decides the format; the typed name only gets the matching extension.
    const bool png = choice.filterIndex == 0;
    const QString target = png ? withExtension(choice.path, QStringLiteral("PNG"), QStringLiteral(".png"))
                               : withExtension(choice.path, QStringLiteral("BMP"), QStringLiteral(".bmp"));
    const QString error =
        saveImageFile(doc.workingImage, target, png ? ImageFileFormat::Png : ImageFileFormat::Bmp);
    if (!error.isEmpty()) {
        dialogs.showError(error);
        return false;
    }
    doc.imageUnsaved = false;
    return true;
}

void chooseGridColor(Document& doc, Dialogs& dialogs)
{
    if (const std::optional<QRgb> chosen = dialogs.chooseColor(doc.gridColor))
        doc.gridColor = *chosen;
}
