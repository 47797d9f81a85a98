#include "level/level_format.h"

#include <QFileInfo>
#include <algorithm>

#include "level/formats/csv/csv_format.h"
#include "level/formats/godot/godot_format.h"
#include "level/formats/ldtk/ldtk_format.h"
#include "level/formats/tmj/tmj_format.h"
#include "level/formats/tmx/tmx_format.h"

namespace
{

std::vector<const LevelFormat*>& registry()
{
    // One line per format, in the order they are asked.
    static std::vector<const LevelFormat*> formats{&tmxFormat(), &tmjFormat(), &csvFormat(),
                                                   &ldtkFormat(), &godotFormat()};
    return formats;
}

} // namespace

bool LevelFormat::claimsName(const QString& suffix) const
{
    const QStringList all = patterns();
    return std::any_of(all.begin(), all.end(), [&](const QString& pattern) {
        return pattern.mid(2).compare(suffix, Qt::CaseInsensitive) == 0;
    });
}

bool LevelFormat::claimsContent(char) const
{
    return false;
}

ExternalTileset LevelFormat::readTilesets(const QByteArray& bytes, const QString& path) const
{
    ExternalTileset result;
    LevelSites sites;
    Problem problem;
    const TileRemap none;
    const LevelRemapOptions options;
    const ExternalTilesetReader noReader;
    const LevelContext context{none, options, path, QFileInfo(path).absolutePath(), noReader, {}};
    if (!scan(bytes, context, sites, problem))
        return {
            {}, QStringLiteral("%1: %2").arg(linePlace(bytes, problem.at), problem.why), {}, {}, {}};
    if (!sites.isTemplate && (!sites.isTileset || sites.tilesets.empty()))
        return {{}, QStringLiteral("it is a map, not a tileset"), {}, {}, {}};
    if (sites.tilesets.empty())
        return result;
    result.facts = sites.tilesets.front().facts;
    if (const std::optional<Problem>& unread = sites.tilesets.front().problem) {
        const LevelBytesResult failed = failedAt(bytes, *unread);
        result.problem = QStringLiteral("%1: %2").arg(failed.place, failed.reason);
    }
    return result;
}

std::vector<TilesetFacts> LevelFormat::shownTilesets(const QByteArray& bytes,
                                                     const LevelContext& context) const
{
    LevelSites sites;
    Problem problem;
    std::vector<TilesetFacts> tilesets;
    if (!scan(bytes, context, sites, problem))
        return tilesets;
    for (const TilesetSite& site : sites.tilesets) {
        TilesetFacts facts = site.facts;
        if (!facts.file.isEmpty() && context.readTileset)
            facts = context.readTileset(facts.file).facts;
        tilesets.push_back(facts);
    }
    return tilesets;
}

LevelBytesResult LevelFormat::remap(const QByteArray& bytes, const LevelContext& context) const
{
    Problem problem;
    if (context.options.scans) {
        const LevelSites* sites = context.options.scans->sites(*this, bytes, context, problem);
        return sites ? remapScanned(*sites, bytes, context) : failedAt(bytes, problem);
    }
    LevelSites sites;
    if (!scan(bytes, context, sites, problem))
        return failedAt(bytes, problem);
    return remapScanned(sites, bytes, context);
}

LevelBytesResult LevelFormat::remapScanned(const LevelSites& sites, const QByteArray& bytes,
                                           const LevelContext& context) const
{
    return remapSites(sites, bytes, context);
}

const LevelSites* LevelScans::sites(const LevelFormat& format, const QByteArray& bytes,
                                    const LevelContext& context, Problem& problem)
{
    const size_t hash = qHash(bytes);
    const QString where = context.path + u'\n' + context.carriedBy;
    for (auto [at, end] = scans_.equal_range(hash); at != end; ++at) {
        const Scan& scan = *at->second;
        if (scan.format == &format && scan.where == where && scan.bytes == bytes)
            return &scan.sites;
    }
    auto scan = std::make_unique<Scan>(Scan{&format, where, bytes, {}});
    if (!format.scan(bytes, context, scan->sites, problem))
        return nullptr;
    return &scans_.emplace(hash, std::move(scan))->second->sites;
}

const std::vector<const LevelFormat*>& levelFormats()
{
    return registry();
}

const LevelFormat* levelFormatOf(const QString& path, QByteArrayView bytes)
{
    const QString suffix = QFileInfo(path).suffix();
    for (const LevelFormat* format : registry())
        if (format->claimsName(suffix))
            return format;
    qsizetype i = bytes.startsWith("\xef\xbb\xbf") ? 3 : 0;
    while (i < bytes.size() && isBlank(bytes[i]))
        ++i;
    const char first = i < bytes.size() ? bytes[i] : 0;
    for (const LevelFormat* format : registry())
        if (format->claimsContent(first))
            return format;
    return nullptr;
}

QString notATilesetFile()
{
    QStringList names;
    for (const LevelFormat* format : registry())
        if (!format->tilesetNames().isEmpty())
            names << format->tilesetNames();
    return QStringLiteral("it is not a %1 tileset").arg(names.join(QStringLiteral(" or ")));
}

QString levelFormatNames()
{
    QStringList names;
    for (const LevelFormat* format : registry())
        names << format->names();
    return names.join(QStringLiteral(", "));
}

QStringList levelFilePatterns()
{
    QStringList patterns;
    for (const LevelFormat* format : registry())
        patterns << format->patterns();
    return patterns;
}

ExtraLevelFormat::ExtraLevelFormat(const LevelFormat& format)
{
    registry().push_back(&format);
}

ExtraLevelFormat::~ExtraLevelFormat()
{
    registry().pop_back();
}
