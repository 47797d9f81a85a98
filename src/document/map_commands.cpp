#include "document/commands.h"
#include "document/path_extension.h"
#include "document/sheet_files.h"
#include "platform/dialogs.h"

bool openMapFile(Document& doc, Dialogs& dialogs, const QString& path)
{
    // The map means nothing without its sheet, so say so rather than read a file we cannot use.
    if (!doc.hasImage()) {
        dialogs.showError(QStringLiteral("Open the sheet this map belongs to first."));
        return false;
    }
    QString file = path;
    if (file.isEmpty()) {
        file = dialogs.openFile(kOpenImageTitle, kMapFilter).path;
        if (file.isEmpty())
            return false;
    }

    MapParseResult parsed =
        readMapFile(file, doc.tileMap.columns(), doc.tileMap.rows(), doc.tileSize);
    if (!parsed.map) {
        dialogs.showError(parsed.error);
        return false;
    }
    doc.tileMap = std::move(*parsed.map);
    doc.remapped = 1;
    doc.mapUnsaved = false;
    return true;
}

bool saveMapFile(Document& doc, Dialogs& dialogs)
{
    if (!doc.hasImage())
        return false;
    const FileChoice choice = dialogs.saveFile(kSaveTitle, kMapFilter);
    if (choice.path.isEmpty())
        return false;

    const QString target =
        withExtension(choice.path, QStringLiteral("ZEKO-MAP"), QStringLiteral(".zeko-map"));
    const QString error = writeMapFile(doc.tileMap, target);
    if (!error.isEmpty()) {
        dialogs.showError(error);
        return false;
    }
    doc.mapUnsaved = false;
    return true;
}

DropTarget dropTarget(const QString& dropList)
{
    const QString path = dropList.section(QLatin1Char('\n'), 0, 0);
    const bool map = pathExtension(path.toUpper()) == QLatin1StringView("ZEKO-MAP");
    return DropTarget{path, map ? DropKind::Map : DropKind::Image};
}
