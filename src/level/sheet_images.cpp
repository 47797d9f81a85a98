#include "level/sheet_images.h"

#include <QFile>
#include <QFileInfo>

#include "document/file_identity.h"
#include "level/json_level.h"
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

}  // namespace

QStringList levelSheetImages(const QString& path, const QString& sheet)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QByteArray bytes;
    LevelSites sites;
    if (!readBytes(absolute, bytes) || !scan(bytes, QFileInfo(absolute).absolutePath(), sites))
        return {};
    std::vector<TilesetFacts> tilesets;
    for (const TilesetSite& site : sites.tilesets) {
        TilesetFacts facts = site.facts;
        QByteArray tilesetBytes;
        if (!facts.file.isEmpty() && readBytes(facts.file, tilesetBytes))
            facts = readTilesetFacts(tilesetBytes, facts.file).facts;
        tilesets.push_back(facts);
    }
    const SheetChoice choice = chooseSheet(tilesets, sheet);
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
