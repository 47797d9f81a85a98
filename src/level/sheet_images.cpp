#include "level/sheet_images.h"

#include <QFile>
#include <QFileInfo>

#include "document/file_identity.h"
#include "level/json_level.h"
#include "level/ldtk_level.h"
#include "level/level_remap.h"
#include "level/sheet_choice.h"
#include "level/text_splice.h"
#include "level/xml_level.h"

namespace {

bool readBytes(const QString& path, QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    return true;
}

// Only the tiled formats name images; they tell themselves apart by their first character.
bool scan(const QByteArray& bytes, const QString& folder, LevelSites& sites)
{
    qsizetype i = bytes.startsWith("\xef\xbb\xbf") ? 3 : 0;
    while (i < bytes.size() && isBlank(bytes[i]))
        ++i;
    LevelProblem problem;
    if (i < bytes.size() && bytes[i] == '<')
        return scanXmlLevel(bytes, folder, sites, problem);
    if (i < bytes.size() && bytes[i] == '{')
        return scanJsonLevel(bytes, folder, sites, problem);
    return false;
}

// The tilesets of a Tiled level, or of an LDtk project (a level file's: its project's).
bool readTilesets(const QString& path, std::vector<TilesetFacts>& tilesets)
{
    QByteArray bytes;
    if (isLdtkFile(path)) {
        const QString project = ldtkProjectOf(path);
        LevelProblem problem;
        return readBytes(project, bytes) &&
               readLdtkTilesets(bytes, QFileInfo(project).absolutePath(), tilesets, problem);
    }
    LevelSites sites;
    if (!readBytes(path, bytes) || !scan(bytes, QFileInfo(path).absolutePath(), sites))
        return false;
    for (const TilesetSite& site : sites.tilesets) {
        TilesetFacts facts = site.facts;
        QByteArray tilesetBytes;
        if (!facts.file.isEmpty() && readBytes(facts.file, tilesetBytes))
            facts = readTilesetFacts(tilesetBytes, facts.file).facts;
        tilesets.push_back(facts);
    }
    return true;
}

}  // namespace

QStringList levelSheetImages(const QString& path, const QString& sheet, bool orByName)
{
    std::vector<TilesetFacts> tilesets;
    if (!readTilesets(QFileInfo(path).absoluteFilePath(), tilesets))
        return {};
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
