#include <QFile>
#include <QFileInfo>

#include "document/atomic_file.h"
#include "document/commands.h"
#include "document/file_messages.h"
#include "document/path_extension.h"
#include "platform/dialogs.h"
#include "tilemap/map_file.h"

namespace {

// A map needs a few bytes a tile; anything far larger is not the map of this sheet, and reading it
// whole would only cost memory.
qint64 largestMapFile(const TileMap& map)
{
    return qint64(map.fullTiles()) * 64 + (qint64(1) << 20);
}

// The file's bytes, or an empty optional after telling the user why it could not be read.
std::optional<QByteArray> readMapFile(const QString& path, const TileMap& map, Dialogs& dialogs)
{
    QFile file(path);
    if (const QString why = openForReading(file, QStringLiteral("a map file")); !why.isEmpty()) {
        dialogs.showError(why);
        return std::nullopt;
    }
    if (file.size() > largestMapFile(map)) {
        dialogs.showError(QStringLiteral("%1 is too large to be the map of the open sheet.")
                              .arg(quotedPath(path)));
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        dialogs.showError(
            QStringLiteral("%1 cannot be read: %2.").arg(quotedPath(path), file.errorString()));
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

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

    const std::optional<QByteArray> bytes = readMapFile(file, doc.tileMap, dialogs);
    if (!bytes)
        return false;
    MapParseResult parsed = parseMapText(*bytes, doc.tileMap.columns(), doc.tileMap.rows(),
                                         QFileInfo(file).fileName(), doc.tileSize);
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
    const QString error = writeFileAtomically(target, writeMapText(doc.tileMap));
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
