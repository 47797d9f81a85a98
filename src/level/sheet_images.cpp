#include "level/sheet_images.h"

#include <QFile>
#include <QFileInfo>

#include "document/file_identity.h"
#include "level/level_format.h"
#include "level/level_remap.h"
#include "level/sheet_choice.h"

namespace
{

bool readBytes(const QString& path, QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    return true;
}

// The tilesets a level shows, those of other files read from them.
std::vector<TilesetFacts> shownTilesets(const QString& path)
{
    QByteArray bytes;
    const LevelFormat* format = nullptr;
    if (!readBytes(path, bytes) || !(format = levelFormatOf(path, bytes)))
        return {};
    const TileRemap none;
    const LevelRemapOptions options;
    const ExternalTilesetReader read = [](const QString& file) {
        QByteArray tileset;
        return readBytes(file, tileset) ? readTilesetFacts(tileset, file) : ExternalTileset{};
    };
    const LevelContext context{none, options, path, QFileInfo(path).absolutePath(), read, {}};
    return format->shownTilesets(bytes, context);
}

} // namespace

QStringList levelSheetImages(const QString& path, const QString& sheet, bool orByName)
{
    const std::vector<TilesetFacts> tilesets = shownTilesets(QFileInfo(path).absoluteFilePath());
    const SheetChoice choice = chooseSheet(tilesets, sheet, orByName);
    QStringList images;
    if (choice.verdict != SheetChoice::Verdict::Use)
        return images;
    for (size_t t = 0; t < tilesets.size(); ++t) {
        if (!choice.isSheet[t])
            continue;
        const QString image = pathFrom(tilesets[t].folder, tilesets[t].image);
        const QString file = fileIdentity(image);
        if (!images.contains(file))
            images << file;
    }
    return images;
}
