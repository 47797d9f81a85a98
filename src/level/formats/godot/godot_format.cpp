#include "level/formats/godot/godot_format.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <set>

#include "document/file_identity.h"
#include "document/file_messages.h"
#include "level/atlas_merge.h"
#include "level/formats/godot/godot_resource.h"
#include "level/sheet_choice.h"

namespace
{

// The transform bits of an alternative tile's number in a cell.
constexpr uint32_t kFlipH = 4096;
constexpr uint32_t kFlipV = 8192;
constexpr uint32_t kTranspose = 16384;
constexpr uint32_t kTransforms = kFlipH | kFlipV | kTranspose;

TileSymmetry symmetryOfAlternative(uint32_t alternative)
{
    return TileSymmetry(((alternative & kFlipH) ? TileSymmetry::kH : 0u) |
                        ((alternative & kFlipV) ? TileSymmetry::kV : 0u) |
                        ((alternative & kTranspose) ? TileSymmetry::kD : 0u));
}

uint32_t transformsOf(TileSymmetry symmetry)
{
    const unsigned bits = symmetry.bits();
    return ((bits & TileSymmetry::kH) ? kFlipH : 0u) | ((bits & TileSymmetry::kV) ? kFlipV : 0u) |
           ((bits & TileSymmetry::kD) ? kTranspose : 0u);
}

QByteArray vector2i(int64_t x, int64_t y)
{
    return "Vector2i(" + QByteArray::number(x) + ", " + QByteArray::number(y) + ')';
}

QString tileName(int64_t x, int64_t y)
{
    return QStringLiteral("%1:%2").arg(x).arg(y);
}

QByteArrayView textOf(const QByteArray& bytes, Span span)
{
    return QByteArrayView(bytes).sliced(span.begin, span.size());
}

// An atlas source's tile definition: every property under its "X:Y/" prefix.
struct TileDefinition {
    int64_t x = 0;
    int64_t y = 0;
    std::vector<const GodotProperty*> lines;
    int64_t width = 1; // size_in_atlas
    int64_t height = 1;
    int64_t frames = 1; // animation_frames_count
    int64_t frameColumns = 0;
    int64_t frameGapX = 0; // animation_separation
    int64_t frameGapY = 0;
    bool plain = true; // only "X:Y/0 = 0": nothing that a turn would show wrong
    // Besides that, only alternatives that flip it: a turn composes with their flips.
    bool flipsOnly = true;
    std::map<uint32_t, uint32_t> flips; // alternative -> its own transform bits
    QByteArrayList data; // its lines without the prefix, sorted: what it keeps, to compare
};

// Whether rest names an alternative ("N") or one of its flips ("N/flip_h"); its transform bit,
// 0 for the alternative itself.
bool alternativeKey(QByteArrayView rest, uint32_t& alternative, uint32_t& bit)
{
    const qsizetype slash = rest.indexOf('/');
    const QByteArrayView number = slash < 0 ? rest : rest.first(slash);
    const std::optional<int64_t> n = readWhole(number);
    if (!n || *n <= 0 || *n > 4095)
        return false;
    alternative = uint32_t(*n);
    const QByteArrayView flag = slash < 0 ? QByteArrayView() : rest.sliced(slash + 1);
    bit = flag == "flip_h"      ? kFlipH
          : flag == "flip_v"    ? kFlipV
          : flag == "transpose" ? kTranspose
                                : 0;
    return slash < 0 || bit != 0;
}

// Whether the remap moves the sheet's tiles within its image: a grid, margin or spacing.
bool layoutMoves(const TileRemap& remap)
{
    return remap.changesLayout() || remap.grid != TileRemap::GridChange::None;
}

// The key "X:Y/rest" split, or false for another property.
bool splitTileKey(QByteArrayView key, int64_t& x, int64_t& y, QByteArrayView& rest)
{
    const qsizetype colon = key.indexOf(':');
    const qsizetype slash = key.indexOf('/');
    if (colon <= 0 || slash <= colon + 1)
        return false;
    // Digits only: Godot writes no sign and no blank there.
    for (qsizetype i = 0; i < slash; ++i)
        if (i != colon && (key[i] < '0' || key[i] > '9'))
            return false;
    const std::optional<int64_t> a = readWhole(key.first(colon));
    const std::optional<int64_t> b = readWhole(key.sliced(colon + 1, slash - colon - 1));
    if (!a || !b || *a < 0 || *b < 0)
        return false;
    x = *a;
    y = *b;
    rest = key.sliced(slash + 1);
    return true;
}

struct Atlas {
    const GodotSection* section = nullptr; // in this file; null for another file's
    TilesetFacts facts;
    std::optional<Problem> problem; // matters only when it shows the sheet
    int64_t margins[2] = {0, 0};    // as written, across and down
    int64_t separation[2] = {0, 0};
    // Margins or separation that differ across and down: a region of the sheet at most.
    std::optional<Problem> uneven;
};

// A TileSet that layers use: its sources by their ids, as indexes into Scene::atlases.
struct TileSetUse {
    QString file; // the TileSet's own file (absolute); empty for one of this file
    const GodotSection* section = nullptr; // the TileSet, when it is one of this file
    std::map<int64_t, size_t> sources;
    std::vector<QByteArray> patterns; // its TileMapPatterns' ids
};

// The folder whose project.godot holds the file at path (where res:// paths start), or the file's
// own folder when none above it does.
QString godotProjectRoot(const QString& path)
{
    QDir folder = QFileInfo(path).absoluteDir();
    const QString own = folder.absolutePath();
    for (;;) {
        if (QFileInfo::exists(folder.absoluteFilePath(QStringLiteral("project.godot"))))
            return folder.absolutePath();
        if (!folder.cdUp())
            return own;
    }
}

class Scene
{
  public:
    Scene(const QByteArray& bytes, const LevelContext& context)
        : bytes_(bytes), context_(context), root_(godotProjectRoot(context.path))
    {
    }

    GodotResource resource;
    std::vector<Atlas> atlases;
    std::map<QByteArray, size_t> tilesetsById; // this file's TileSets ("" for its [resource])
    std::vector<TileSetUse> tilesets;
    bool isTileSet = false;
    // A TileSet's source kept in a file of its own: its cells might show the sheet.
    std::optional<Problem> elsewhere;

    // Reads the text, this file's atlas sources and TileSets, and (with reader) the TileSet files
    // its layers name.
    std::optional<LevelBytesResult> read(Problem& problem, bool others)
    {
        if (!resource.read(bytes_, problem))
            return failedAt(bytes_, problem);
        const GodotSection& head = resource.sections.front();
        isTileSet = head.tag == "gd_resource" && head.attribute("type") == "TileSet";
        for (const GodotSection& section : resource.sections) {
            if (section.tag == "ext_resource")
                external_.emplace(section.attribute("id"), &section);
            else if (section.tag == "sub_resource" &&
                     section.attribute("type") == "TileSetAtlasSource")
                addAtlas(section);
        }
        for (const GodotSection& section : resource.sections) {
            if (section.tag == "sub_resource" && section.attribute("type") == "TileSet")
                addTileSet(section, section.attribute("id"));
            else if (section.tag == "resource" && isTileSet)
                addTileSet(section, QByteArray());
        }
        if (others)
            if (auto failed = readTileSetFiles())
                return failed;
        return std::nullopt;
    }

    std::vector<TilesetFacts> facts() const
    {
        std::vector<TilesetFacts> all;
        for (const Atlas& atlas : atlases)
            all.push_back(atlas.facts);
        return all;
    }

    // The TileSet a layer's tile_set names, or null when it names none Tilegrid can find.
    const TileSetUse* tileSetOf(const GodotSection& layer) const
    {
        const GodotProperty* property = layer.property("tile_set");
        if (!property)
            return nullptr;
        const QByteArrayView value = textOf(bytes_, property->value);
        if (const auto id = resourceRef(value, "SubResource")) {
            const auto found = tilesetsById.find(*id);
            return found == tilesetsById.end() ? nullptr : &tilesets[found->second];
        }
        if (const auto id = resourceRef(value, "ExtResource")) {
            const QString file = externalPath(*id);
            for (const TileSetUse& use : tilesets)
                if (!file.isEmpty() && use.file == file)
                    return &use;
        }
        return nullptr;
    }

    // Where res:// paths start.
    const QString& root() const { return root_; }

  private:
    const QByteArray& bytes_;
    const LevelContext& context_;
    QString root_;
    std::map<QByteArray, const GodotSection*> external_;

    // The file an ext_resource names, absolute; empty when there is none of that id.
    QString externalPath(const QByteArray& id) const
    {
        const auto found = external_.find(id);
        if (found == external_.end())
            return QString();
        const QString path = QString::fromUtf8(found->second->attribute("path"));
        if (path.startsWith(QLatin1StringView("res://")))
            return QDir::cleanPath(QDir(root_).absoluteFilePath(path.mid(6)));
        return QDir::cleanPath(QDir(context_.folder).absoluteFilePath(path));
    }

    void addAtlas(const GodotSection& section)
    {
        Atlas atlas;
        atlas.section = &section;
        TilesetFacts& facts = atlas.facts;
        facts.name = QString::fromUtf8(section.attribute("id"));
        facts.tileWidth = facts.tileHeight = 16; // what Godot leaves out
        auto problemAt = [&](const GodotProperty& property, const QString& why) {
            if (!atlas.problem)
                atlas.problem = Problem{property.value.begin, section.label(), why};
        };
        for (const GodotProperty& property : section.properties) {
            const QByteArrayView value = textOf(bytes_, property.value);
            if (property.key == "texture") {
                const auto id = resourceRef(value, "ExtResource");
                const QString path = id ? externalPath(*id) : QString();
                if (path.isEmpty())
                    continue; // no image of a file: not a sheet
                const QString relative = QDir(root_).relativeFilePath(path);
                facts.folder =
                    relative.startsWith(QLatin1StringView("..")) ? context_.folder : root_;
                facts.image = QDir(facts.folder).relativeFilePath(path);
                continue;
            }
            const bool region = property.key == "texture_region_size";
            const bool margins = property.key == "margins";
            if (!region && !margins && property.key != "separation")
                continue;
            const std::optional<GodotPair> pair = readVector2i(value);
            if (!pair || pair->x < 0 || pair->y < 0 || (region && (pair->x <= 0 || pair->y <= 0))) {
                problemAt(property, QStringLiteral("“%1” is not a size of whole pixels")
                                        .arg(QString::fromUtf8(value)));
                continue;
            }
            if (region) {
                facts.tileWidth = pair->x;
                facts.tileHeight = pair->y;
                continue;
            }
            int64_t* written = margins ? atlas.margins : atlas.separation;
            written[0] = pair->x;
            written[1] = pair->y;
            (margins ? facts.margin : facts.spacing) = pair->x;
            if (pair->x != pair->y && !atlas.uneven)
                atlas.uneven =
                    Problem{property.value.begin, section.label(),
                            QStringLiteral("its %1 differ across and down (%2), and "
                                           "its region does not lie on the sheet's "
                                           "tile grid")
                                .arg(QString::fromUtf8(property.key), QString::fromUtf8(value))};
        }
        atlases.push_back(std::move(atlas));
    }

    void addTileSet(const GodotSection& section, const QByteArray& id)
    {
        TileSetUse use;
        use.section = &section;
        for (const GodotProperty& property : section.properties) {
            if (property.key.startsWith("pattern_"))
                if (const auto ref = resourceRef(textOf(bytes_, property.value), "SubResource"))
                    use.patterns.push_back(*ref);
            if (!property.key.startsWith("sources/"))
                continue;
            const std::optional<int64_t> source = readWhole(QByteArrayView(property.key).sliced(8));
            const auto ref = resourceRef(textOf(bytes_, property.value), "SubResource");
            if (source && !ref && !elsewhere)
                elsewhere = Problem{property.value.begin, section.label(),
                                    QStringLiteral("its source %1 is a resource of its own, which "
                                                   "Tilegrid does not follow")
                                        .arg(*source)};
            if (!source || !ref)
                continue;
            for (size_t a = 0; a < atlases.size(); ++a)
                if (atlases[a].section->attribute("id") == *ref)
                    use.sources.emplace(*source, a);
        }
        tilesetsById.emplace(id, tilesets.size());
        tilesets.push_back(std::move(use));
    }

    std::optional<LevelBytesResult> readTileSetFiles()
    {
        std::set<QString> done;
        for (const GodotSection& layer : resource.sections) {
            if (layer.tag != "node")
                continue;
            const GodotProperty* property = layer.property("tile_set");
            const auto id = property ? resourceRef(textOf(bytes_, property->value), "ExtResource")
                                     : std::nullopt;
            const QString file = id ? externalPath(*id) : QString();
            if (file.isEmpty() || !done.insert(file).second)
                continue;
            if (!context_.readTileset)
                return failedAt(
                    bytes_,
                    {property->value.begin, layer.label(),
                     QStringLiteral("its TileSet %1 is a file of its own").arg(quotedPath(file))});
            const ExternalTileset read = context_.readTileset(file);
            if (!read.error.isEmpty())
                return failedAt(bytes_,
                                {property->value.begin, layer.label(),
                                 QStringLiteral("its TileSet cannot be read: %1").arg(read.error)});
            TileSetUse use;
            use.file = file;
            for (const TilesetFacts& facts : read.tilesets) {
                Atlas atlas;
                atlas.facts = facts;
                atlas.facts.file = file;
                use.sources.emplace(facts.key, atlases.size());
                atlases.push_back(std::move(atlas));
            }
            tilesets.push_back(std::move(use));
        }
        return std::nullopt;
    }
};

// One of the sheet's atlas sources, ready for its tiles to be renumbered.
struct SheetAtlas {
    int64_t columns = 0;
    int64_t tiles = 0;
    int64_t newColumns = 0;
    const TileRemap* remap = nullptr; // where its tiles go
    int64_t newSource = -1;           // a merge: the source its cells name afterwards
    // A source of a region of the sheet: the sheet's column and row of its first tile.
    int64_t offsetX = 0;
    int64_t offsetY = 0;
    size_t whole = 0; // a region's: the source of the whole sheet
    // Its tiles' alternatives and their own flips, by (tile, alternative); those of a TileSet of
    // another file are not known here.
    std::shared_ptr<std::map<std::pair<int64_t, uint32_t>, uint32_t>> alternatives;
};

// What a new tile of a merge keeps: the definition of the first tile that became it.
struct KeptDefinition {
    QString name; // "2:0 of “TileSetAtlasSource_b”"
    QByteArrayList data;
};

// A TileMapLayer's cells as bytes: a version (0) and 12 bytes a cell. Empty for a layer of none;
// a problem when the data cannot be such cells.
std::optional<Problem> decodeLayerData(const QByteArray& bytes, const GodotSection& layer,
                                       const GodotProperty& property, QByteArray& data,
                                       bool& base64)
{
    const QByteArrayView value = textOf(bytes, property.value);
    auto refuse = [&](const QString& why) {
        return Problem{property.value.begin, layer.label(), why};
    };
    const std::optional<Span> inside = callArguments(value, "PackedByteArray");
    if (!inside)
        return refuse(QStringLiteral("its tile_map_data is not a PackedByteArray"));
    const QByteArrayView written = value.sliced(inside->begin, inside->size()).trimmed();
    base64 = written.startsWith('"');
    if (base64) {
        // Base64 has no escapes: the text between the quotes is decoded where it stands.
        const QByteArrayView inside =
            written.sliced(1, written.size() - (written.endsWith('"') ? 2 : 1));
        const auto decoded = QByteArray::fromBase64Encoding(
            inside.contains('\\') ? unquoted(written)
                                  : QByteArray::fromRawData(inside.data(), inside.size()),
            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return refuse(QStringLiteral("its tile_map_data is not valid base64"));
        data = std::move(*decoded);
    } else if (!written.isEmpty()) {
        for (const QByteArrayView number : written.toByteArray().split(',')) {
            const std::optional<int64_t> byte = readWhole(number);
            if (!byte || *byte < 0 || *byte > 255)
                return refuse(QStringLiteral("its tile_map_data holds “%1”, which is no byte")
                                  .arg(QString::fromUtf8(number.trimmed())));
            data += char(*byte);
        }
    }
    if (data.isEmpty())
        return std::nullopt;
    if (data.size() < 2)
        return refuse(QStringLiteral("its tile_map_data is too short for its version"));
    const uint32_t version = uint8_t(data[0]) | uint8_t(data[1]) << 8;
    if (version != 0)
        return refuse(QStringLiteral("its tile_map_data is of version %1, which Tilegrid does "
                                     "not read (only 0)")
                          .arg(version));
    if ((data.size() - 2) % 12 != 0)
        return refuse(QStringLiteral("its tile_map_data holds %1 bytes, which is not two and 12 "
                                     "for each cell")
                          .arg(data.size()));
    return std::nullopt;
}

// The tile definitions of an atlas source, by their place; a problem when a value that says
// which cells a tile covers cannot be read.
using TileDefinitions = std::map<std::pair<int64_t, int64_t>, TileDefinition>;
std::optional<Problem> readDefinitions(const QByteArray& bytes, const GodotSection& section,
                                       int64_t tiles, TileDefinitions& definitions)
{
    for (const GodotProperty& property : section.properties) {
        int64_t x = 0;
        int64_t y = 0;
        QByteArrayView rest;
        if (!splitTileKey(property.key, x, y, rest))
            continue;
        TileDefinition& tile = definitions[{x, y}];
        tile.x = x;
        tile.y = y;
        tile.lines.push_back(&property);
        const QByteArrayView value = textOf(bytes, property.value);
        if (rest == "size_in_atlas" || rest == "animation_separation") {
            const std::optional<GodotPair> pair = readVector2i(value);
            const int64_t least = rest == "size_in_atlas" ? 1 : 0;
            if (!pair || pair->x < least || pair->y < least)
                return Problem{property.value.begin, section.label(),
                               QStringLiteral("the tile %1 has a %2 of “%3”")
                                   .arg(tileName(x, y), QString::fromUtf8(rest.toByteArray()),
                                        QString::fromUtf8(value))};
            (rest == "size_in_atlas" ? tile.width : tile.frameGapX) = pair->x;
            (rest == "size_in_atlas" ? tile.height : tile.frameGapY) = pair->y;
        } else if (rest.startsWith("animation_frame_") && rest.endsWith("/duration")) {
            // Godot writes the frames' durations, not their count.
            const std::optional<int64_t> n = readWhole(rest.sliced(16, rest.size() - 25));
            if (n && *n >= 0 && *n < tiles)
                tile.frames = std::max(tile.frames, *n + 1);
        } else if (rest == "animation_frames_count" || rest == "animation_columns") {
            const std::optional<int64_t> n = readWhole(value);
            if (!n || *n < 0 || *n > tiles)
                return Problem{property.value.begin, section.label(),
                               QStringLiteral("the tile %1 has an %2 of “%3”")
                                   .arg(tileName(x, y), QString::fromUtf8(rest.toByteArray()),
                                        QString::fromUtf8(value))};
            if (rest == "animation_columns")
                tile.frameColumns = *n;
            else
                tile.frames = std::max<int64_t>(*n, 1);
        }
        if (rest != "0" || value != "0")
            tile.plain = false;
        uint32_t alternative = 0;
        uint32_t bit = 0;
        if (rest == "next_alternative_id") {
        } else if (alternativeKey(rest, alternative, bit) && (bit == 0 || value == "true")) {
            tile.flips[alternative] |= bit;
        } else if (rest != "0" || value != "0") {
            tile.flipsOnly = false;
        }
        tile.data << rest.toByteArray() + " = " + value.toByteArray();
    }
    for (auto& entry : definitions) // compared as sets of lines
        std::sort(entry.second.data.begin(), entry.second.data.end());
    return std::nullopt;
}

// The alternatives that definitions hold and their own flips, by (sheet tile, alternative).
std::shared_ptr<std::map<std::pair<int64_t, uint32_t>, uint32_t>>
alternativesIn(const TileDefinitions& tiles, const SheetAtlas& sheet)
{
    auto alternatives = std::make_shared<std::map<std::pair<int64_t, uint32_t>, uint32_t>>();
    for (const auto& [at, tile] : tiles) {
        const int64_t index = (tile.y + sheet.offsetY) * sheet.columns + tile.x + sheet.offsetX;
        for (const auto& [alternative, flips] : tile.flips)
            alternatives->emplace(std::pair(index, alternative), flips);
    }
    return alternatives;
}

class Remapper
{
  public:
    Remapper(const QByteArray& bytes, const LevelContext& context, LevelBytesResult& result)
        : bytes_(bytes), context_(context), remap_(context.remap), result_(result)
    {
    }

    TextSplice splice;
    // Layers' cells decoded already, by their property: its bytes and whether they were base64.
    std::map<const GodotProperty*, std::pair<QByteArray, bool>> decoded_;

    // Puts the definitions that a merge moved into other sources where they go.
    void insertMoved()
    {
        for (const auto& [at, text] : moved_)
            splice.insert(at, text);
        moved_.clear();
    }

    // Moves an atlas source's definitions with their tiles, and notes in sheet the alternatives
    // they define. moveTo, when set, is where they go instead (a merge takes them into another
    // source); kept holds what each new tile keeps so far.
    std::optional<Problem> remapAtlas(const Atlas& atlas, SheetAtlas& sheet,
                                      std::map<int32_t, KeptDefinition>& kept,
                                      qsizetype moveTo = -1)
    {
        const TileRemap& remap = *sheet.remap;
        const GodotSection& section = *atlas.section;
        TileDefinitions tiles;
        if (auto problem = readDefinitions(bytes_, section, sheet.tiles, tiles))
            return problem;
        sheet.alternatives = alternativesIn(tiles, sheet);
        if (TileUse* use = context_.options.use)
            noteDefinitions(*use, tiles, sheet);
        for (auto& entry : tiles) {
            TileDefinition& tile = entry.second;
            const GodotProperty& first = *tile.lines.front();
            auto refuse = [&](const QString& why) {
                return Problem{first.line.begin, section.label(),
                               QStringLiteral("the tile %1 %2").arg(tileName(tile.x, tile.y), why)};
            };
            std::vector<int64_t> cells;
            if (auto outside = cellsOf(tile, sheet, cells))
                return refuse(*outside);
            const int64_t index = cells.front();
            if (context_.options.use)
                for (int64_t f = 1; f < tile.frames; ++f)
                    context_.options.use->frames.emplace_back(
                        int32_t(index), int32_t(cells[size_t(f * tile.width * tile.height)]));
            if (remap.keepsIds)
                continue;
            if (cells.size() > 1 && !remap.movesTogether(cells, sheet.columns, sheet.newColumns))
                return refuse(QStringLiteral("covers %1 (its size in the atlas or its "
                                             "animation frames), which do not move as one block")
                                  .arg(plural(qint64(cells.size()), QStringLiteral("cell"),
                                              QStringLiteral("cells"))));
            // A source that a merge takes into another leaves whole.
            auto remove = [&] {
                if (moveTo < 0)
                    for (const GodotProperty* line : tile.lines)
                        splice.replace(line->line, {});
            };
            const int32_t now = remap.newIndexOf[size_t(index)];
            if (now == TileRemap::kDropped) {
                remove();
                ++result_.tilesMoved;
                continue;
            }
            if (!remap.symmetry(size_t(index)).isIdentity() && !tile.plain && !tile.flipsOnly)
                return refuse(QStringLiteral("would be turned, and its data (shapes, terrains, "
                                             "custom data) would not turn with it"));
            const QString name = moveTo < 0
                                     ? QStringLiteral("the tile %1").arg(tileName(tile.x, tile.y))
                                     : QStringLiteral("the tile %1 of %2")
                                           .arg(tileName(tile.x, tile.y), section.label());
            const auto [other, fresh] = kept.emplace(now, KeptDefinition{name, tile.data});
            if (!fresh) {
                if (other->second.data != tile.data)
                    return refuse(QStringLiteral("and %1 become one tile, but their "
                                                 "definitions differ")
                                      .arg(other->second.name));
                remove();
                ++result_.tilesMoved;
                continue;
            }
            const int64_t x = now % sheet.newColumns - sheet.offsetX;
            const int64_t y = now / sheet.newColumns - sheet.offsetY;
            if (x < 0 || y < 0)
                return refuse(QStringLiteral("would move out of its source's region"));
            moveDefinition(tile, x, y, moveTo);
        }
        return std::nullopt;
    }

    // Writes a definition's lines under the prefix of its new place: renamed where they stand,
    // or, with moveTo set, written again there.
    void moveDefinition(const TileDefinition& tile, int64_t x, int64_t y, qsizetype moveTo)
    {
        const QByteArray prefix = tileName(x, y).toUtf8();
        if (moveTo >= 0) {
            QByteArray moved;
            for (const GodotProperty* line : tile.lines)
                moved += endOfLineAt(moveTo) + prefix + line->key.mid(line->key.indexOf('/')) +
                         " = " + textOf(bytes_, line->value).toByteArray();
            moved_[moveTo] += moved;
            ++result_.tilesMoved;
            return;
        }
        if (x == tile.x && y == tile.y)
            return;
        for (const GodotProperty* line : tile.lines) {
            // The prefix as written, which may have leading zeros.
            const qsizetype begin = line->keySpan.begin + (bytes_[line->keySpan.begin] == '"');
            splice.replace({begin, begin + line->key.indexOf('/')}, prefix);
        }
        ++result_.tilesMoved;
    }

    // What the definitions keep for each tile, for a dedupe that the levels must follow: a tile
    // with more than its plain definition merges only unturned, as do the cells it covers
    // beyond its own; animations and terrains mean something only in their own TileSet.
    static void noteDefinitions(TileUse& use, const TileDefinitions& tiles, const SheetAtlas& sheet)
    {
        std::vector<TileData> here(use.named.size());
        for (const auto& entry : tiles) {
            const TileDefinition& tile = entry.second;
            std::vector<int64_t> cells;
            if (tile.plain || cellsOf(tile, sheet, cells) || size_t(cells.front()) >= here.size())
                continue;
            TileData& noted = here[size_t(cells.front())];
            noted.text = tile.data.join('\n');
            noted.unturned = true;
            noted.local = tile.frames > 1 || noted.text.contains("terrain");
            for (size_t c = 1; c < cells.size(); ++c)
                if (size_t(cells[c]) < here.size())
                    here[size_t(cells[c])].unturned = true;
        }
        foldTileData(use, std::move(here));
    }

    // Where a property's line ends, before its end of line: what follows its value stays on it.
    qsizetype lineEnd(const GodotProperty& property) const
    {
        const Span line = property.line;
        if (line.end <= line.begin || bytes_[line.end - 1] != '\n')
            return line.end;
        return line.end - (line.end - 2 > line.begin && bytes_[line.end - 2] == '\r' ? 2 : 1);
    }

    // The end of line that stands at, where lineEnd put a new line: that of the line it follows.
    QByteArray endOfLineAt(qsizetype at) const
    {
        return QByteArrayView(bytes_).sliced(at).startsWith("\r\n") ? QByteArrayLiteral("\r\n")
                                                                    : QByteArrayLiteral("\n");
    }

    // The file's end of line, for the lines it gains: that of its first line.
    QByteArray endOfLine() const
    {
        const qsizetype end = bytes_.indexOf('\n');
        return end > 0 && bytes_[end - 1] == '\r' ? QByteArrayLiteral("\r\n")
                                                  : QByteArrayLiteral("\n");
    }

    // Sets an atlas source's margins and separation as the sheet's layout now has them; Godot
    // leaves out a value of none, and so does this.
    void rewriteLayout(const Atlas& atlas)
    {
        if (!layoutMoves(remap_))
            return;
        const SheetGeometry after = geometryAfter(atlas.facts, remap_);
        setLayout(atlas, after.margin, after.spacing);
    }

    // Sets an atlas source's margins and separation.
    void setLayout(const Atlas& atlas, int64_t margin, int64_t spacing)
    {
        setLayout(atlas, {margin, margin}, spacing);
    }

    // The same for a region of the sheet, whose margins differ across and down.
    void setLayout(const Atlas& atlas, std::array<int64_t, 2> margin, int64_t spacing)
    {
        const GodotSection& section = *atlas.section;
        const GodotProperty* margins = section.property("margins");
        const GodotProperty* separation = section.property("separation");
        // A new line goes in before the end of line of the line it follows, so that it never
        // meets an edit of the line after.
        using Pair = std::array<int64_t, 2>;
        const qsizetype afterTextureAt = lineEnd(*section.property("texture"));
        const QByteArray eol = endOfLineAt(afterTextureAt);
        auto line = [&eol](QByteArrayView key, Pair now) {
            return eol + key.toByteArray() + " = " + vector2i(now[0], now[1]);
        };
        QByteArray afterTexture; // the values Godot had left out
        auto set = [&](const GodotProperty* property, QByteArrayView key, Pair was, Pair now) {
            if (now == was)
                return;
            if (!property)
                afterTexture += line(key, now);
            else if (now == Pair{0, 0})
                splice.replace(property->line, {});
            else
                splice.replace(property->value, vector2i(now[0], now[1]));
        };
        const Pair wasMargins{atlas.margins[0], atlas.margins[1]};
        const Pair wasSeparation{atlas.separation[0], atlas.separation[1]};
        const Pair nowSeparation{spacing, spacing};
        set(margins, "margins", wasMargins, margin);
        if (margins && margin != Pair{0, 0} && !separation && nowSeparation != wasSeparation)
            splice.insert(lineEnd(*margins), endOfLineAt(lineEnd(*margins)) +
                                                 "separation = " + vector2i(spacing, spacing));
        else
            set(separation, "separation", wasSeparation, nowSeparation);
        if (!afterTexture.isEmpty())
            splice.insert(afterTextureAt, afterTexture);
    }

    // Rewrites the cells of one layer's data, those of the sheet's sources.
    std::optional<Problem> remapCells(const GodotSection& layer, const TileSetUse& tileset,
                                      const std::map<size_t, SheetAtlas>& sheets)
    {
        std::map<int64_t, const SheetAtlas*> sources;
        for (const auto& [source, atlas] : tileset.sources)
            if (const auto found = sheets.find(atlas); found != sheets.end())
                sources.emplace(source, &found->second);
        if (sources.empty())
            return std::nullopt;
        for (const GodotProperty& property : layer.properties) {
            if (property.key == "tile_map_data") {
                if (auto problem = remapLayerData(layer, property, sources))
                    return problem;
            } else if ((property.key.startsWith("layer_") && property.key.endsWith("/tile_data")) ||
                       property.key == "tile_data") { // a pattern's, or a TileMap's first layer
                if (auto problem = remapOlderLayer(layer, property, sources))
                    return problem;
            }
        }
        return std::nullopt;
    }

    // A TileSet's proxies that name tiles of the sheet's sources by their place: [source,
    // Vector2i(x, y)] and [source, Vector2i(x, y), alternative]. A proxy cannot turn a tile.
    std::optional<Problem> remapProxies(const GodotSection& tileSet, const TileSetUse& use,
                                        const std::map<size_t, SheetAtlas>& sheets)
    {
        static const QRegularExpression named(
            QStringLiteral("\\[\\s*(\\d+)\\s*,\\s*(Vector2i\\(\\s*(\\d+)\\s*,\\s*(\\d+)\\s*\\))"));
        for (const GodotProperty& property : tileSet.properties) {
            if (property.key != "tile_proxies/coords_level" &&
                property.key != "tile_proxies/alternative_level")
                continue;
            const QString value = QString::fromLatin1(textOf(bytes_, property.value));
            for (auto found = named.globalMatch(value); found.hasNext();) {
                const QRegularExpressionMatch match = found.next();
                const auto source = use.sources.find(match.captured(1).toLongLong());
                if (source == use.sources.end())
                    continue;
                const auto sheet = sheets.find(source->second);
                if (sheet == sheets.end())
                    continue;
                bool fitsX = false;
                bool fitsY = false;
                uint32_t x = match.captured(3).toUInt(&fitsX);
                uint32_t y = match.captured(4).toUInt(&fitsY);
                if (!fitsX || !fitsY) // beyond any texture, as mapCell says
                    x = y = UINT32_MAX / 2;
                const uint32_t wasX = x;
                const uint32_t wasY = y;
                uint32_t alternative = 0;
                QString why;
                const qsizetype at = property.value.begin + match.capturedStart(2);
                if (!mapCell(sheet->second, x, y, alternative, why) || alternative != 0)
                    return Problem{at,
                                   QStringLiteral("%1, %2").arg(tileSet.label(),
                                                                QString::fromUtf8(property.key)),
                                   why.isEmpty() ? QStringLiteral("a proxy names a tile that "
                                                                  "would have to be turned")
                                                 : why.replace(QStringLiteral("a cell shows"),
                                                               QStringLiteral("a proxy names"))};
                if (x != wasX || y != wasY)
                    splice.replace({at, at + match.capturedLength(2)}, vector2i(x, y));
                if (const int64_t newSource = sheet->second.newSource;
                    newSource >= 0 && newSource != source->first) {
                    const qsizetype from = property.value.begin + match.capturedStart(1);
                    splice.replace({from, from + match.capturedLength(1)},
                                   QByteArray::number(newSource));
                }
            }
        }
        return std::nullopt;
    }

  private:
    const QByteArray& bytes_;
    const LevelContext& context_;
    const TileRemap& remap_;
    std::map<qsizetype, QByteArray> moved_; // a merge's moved definitions, by where they go
    LevelBytesResult& result_;

    // The sheet's tiles that a definition covers: its own cells, then those of each further
    // animation frame; why not when one lies outside the texture's tiles.
    static std::optional<QString> cellsOf(const TileDefinition& tile, const SheetAtlas& sheet,
                                          std::vector<int64_t>& cells)
    {
        const int64_t across = tile.frameColumns > 0 ? tile.frameColumns : tile.frames;
        for (int64_t f = 0; f < tile.frames; ++f) {
            const int64_t left =
                sheet.offsetX + tile.x + (f % across) * (tile.width + tile.frameGapX);
            const int64_t top =
                sheet.offsetY + tile.y + (f / across) * (tile.height + tile.frameGapY);
            for (int64_t dy = 0; dy < tile.height; ++dy)
                for (int64_t dx = 0; dx < tile.width; ++dx) {
                    const int64_t x = left + dx;
                    const int64_t y = top + dy;
                    if (x >= sheet.columns || y * sheet.columns + x >= sheet.tiles)
                        return QStringLiteral("lies outside the texture's %1")
                            .arg(plural(sheet.tiles, QStringLiteral("tile"),
                                        QStringLiteral("tiles")));
                    cells.push_back(y * sheet.columns + x);
                    if (int64_t(cells.size()) > sheet.tiles)
                        return QStringLiteral("covers more cells than the texture holds");
                }
        }
        return std::nullopt;
    }

    // A cell's tile, flips and all, as it is after the remap; false with why when it cannot be.
    bool mapCell(const SheetAtlas& sheet, uint32_t& atlasX, uint32_t& atlasY, uint32_t& alternative,
                 QString& why) const
    {
        const int64_t index =
            (int64_t(atlasY) + sheet.offsetY) * sheet.columns + atlasX + sheet.offsetX;
        if (int64_t(atlasX) + sheet.offsetX >= sheet.columns || index >= sheet.tiles) {
            why = QStringLiteral("a cell shows the tile %1, outside the texture's %2")
                      .arg(tileName(atlasX, atlasY),
                           plural(sheet.tiles, QStringLiteral("tile"), QStringLiteral("tiles")));
            return false;
        }
        if (TileUse* use = context_.options.use; use && size_t(index) < use->named.size())
            use->named[size_t(index)] = 1;
        const TileRemap& remap = *sheet.remap;
        if (remap.keepsIds)
            return true;
        const int32_t now = remap.newIndexOf[size_t(index)];
        if (now == TileRemap::kDropped) {
            why = QStringLiteral("a cell shows the tile %1, which the sheet no longer holds")
                      .arg(tileName(atlasX, atlasY));
            return false;
        }
        const TileSymmetry turn = remap.symmetry(size_t(index));
        const uint32_t base = alternative & ~kTransforms;
        const auto own = base != 0 && sheet.alternatives ? sheet.alternatives->find({index, base})
                                                         : decltype(sheet.alternatives->end()){};
        if (!turn.isIdentity() && base != 0 && sheet.alternatives &&
            own != sheet.alternatives->end()) {
            // Godot flips an alternative by its own flips and the cell's, one after the other
            // bit by bit; the turn goes after them.
            const TileSymmetry shown =
                symmetryOfAlternative((alternative ^ own->second) & kTransforms);
            alternative = base | ((transformsOf(shown.after(turn)) ^ own->second) & kTransforms);
        } else if (!turn.isIdentity()) {
            if (base != 0) {
                why = QStringLiteral("a cell shows the alternative %1 of the tile %2, which would "
                                     "have to be turned")
                          .arg(alternative & ~kTransforms)
                          .arg(tileName(atlasX, atlasY));
                return false;
            }
            alternative = (alternative & ~kTransforms) |
                          transformsOf(symmetryOfAlternative(alternative).after(turn));
        }
        const int64_t x = now % sheet.newColumns - sheet.offsetX;
        const int64_t y = now / sheet.newColumns - sheet.offsetY;
        if (x < 0 || y < 0) {
            why = QStringLiteral("a cell shows the tile %1, which would move out of its source's "
                                 "region")
                      .arg(tileName(atlasX, atlasY));
            return false;
        }
        atlasX = uint32_t(x);
        atlasY = uint32_t(y);
        return true;
    }

    std::optional<Problem> remapLayerData(const GodotSection& layer, const GodotProperty& property,
                                          const std::map<int64_t, const SheetAtlas*>& sources)
    {
        QByteArray data;
        bool base64 = false;
        if (const auto found = decoded_.find(&property); found != decoded_.end()) {
            data = std::move(found->second.first);
            base64 = found->second.second;
        } else if (auto problem = decodeLayerData(bytes_, layer, property, data, base64)) {
            return problem;
        }
        if (data.isEmpty())
            return std::nullopt;
        // Read and written through plain pointers: a layer may hold millions of cells.
        uint8_t* cells = reinterpret_cast<uint8_t*>(data.data());
        auto at = [cells](qsizetype i) { return uint32_t(cells[i]) | uint32_t(cells[i + 1]) << 8; };
        auto refuse = [&](const QString& why) {
            return Problem{property.value.begin, layer.label(), why};
        };
        // The few sources, looked up by a scan rather than a tree.
        const std::vector<std::pair<uint32_t, const SheetAtlas*>> sheets(sources.begin(),
                                                                         sources.end());
        bool changed = false;
        for (qsizetype c = 2; c < data.size(); c += 12) {
            const uint32_t shown = at(c + 4);
            const auto found = std::find_if(sheets.begin(), sheets.end(),
                                            [shown](const auto& s) { return s.first == shown; });
            if (found == sheets.end())
                continue;
            uint32_t x = at(c + 6);
            uint32_t y = at(c + 8);
            uint32_t alternative = at(c + 10);
            QString why;
            if (!mapCell(*found->second, x, y, alternative, why))
                return refuse(QStringLiteral("%1 (the cell %2, %3)")
                                  .arg(why)
                                  .arg(int16_t(at(c)))
                                  .arg(int16_t(at(c + 2))));
            const int64_t newSource = found->second->newSource;
            const uint32_t source = newSource >= 0 ? uint32_t(newSource) : at(c + 4);
            if (source == at(c + 4) && x == at(c + 6) && y == at(c + 8) &&
                alternative == at(c + 10))
                continue;
            const uint32_t values[4] = {source, x, y, alternative};
            for (int v = 0; v < 4; ++v) {
                cells[c + 4 + 2 * v] = uint8_t(values[v] & 0xff);
                cells[c + 5 + 2 * v] = uint8_t(values[v] >> 8);
            }
            changed = true;
            ++result_.cellsChanged;
        }
        if (!changed)
            return std::nullopt;
        const QByteArrayView value = textOf(bytes_, property.value);
        const std::optional<Span> inside = callArguments(value, "PackedByteArray");
        const Span span{property.value.begin + inside->begin, property.value.begin + inside->end};
        if (base64) {
            // Only the text between the quotes is written again.
            const qsizetype open = bytes_.indexOf('"', span.begin);
            const qsizetype close = bytes_.lastIndexOf('"', span.end - 1);
            splice.replace({open + 1, close}, data.toBase64(), TextSplice::Take);
        } else {
            QByteArray list;
            list.reserve(data.size() * 4);
            for (qsizetype i = 0; i < data.size(); ++i) {
                if (i > 0)
                    list += ", ";
                list += QByteArray::number(uint8_t(data[i]));
            }
            splice.replace(span, list);
        }
        return std::nullopt;
    }

    // The older TileMap node's layers: three 32-bit numbers a cell, laid out as the newer data's
    // 12 bytes are.
    std::optional<Problem> remapOlderLayer(const GodotSection& layer, const GodotProperty& property,
                                           const std::map<int64_t, const SheetAtlas*>& sources)
    {
        const QByteArrayView value = textOf(bytes_, property.value);
        const QString where =
            QStringLiteral("%1, %2").arg(layer.label(), QString::fromUtf8(property.key));
        const std::optional<Span> inside = callArguments(value, "PackedInt32Array");
        if (!inside)
            return Problem{property.value.begin, where,
                           QStringLiteral("its tile_data is not a PackedInt32Array")};
        // A TileMapPattern has no format: its cells are always laid out so.
        const GodotProperty* format = layer.property("format");
        const std::optional<int64_t> version =
            format ? readWhole(textOf(bytes_, format->value)) : std::nullopt;
        if (layer.tag == "node" && (!version || *version != 2))
            return Problem{format ? format->value.begin : layer.header.begin, layer.label(),
                           QStringLiteral("its TileMap data are of format %1, which Tilegrid does "
                                          "not read (only 2)")
                               .arg(format ? QString::fromUtf8(textOf(bytes_, format->value))
                                           : QStringLiteral("1"))};
        std::vector<Span> numbers;
        std::vector<uint32_t> words;
        const qsizetype base = property.value.begin;
        for (qsizetype i = inside->begin; i < inside->end;) {
            qsizetype end = value.indexOf(',', i);
            if (end < 0 || end > inside->end)
                end = inside->end;
            qsizetype begin = i;
            while (begin < end && isBlank(value[begin]))
                ++begin;
            qsizetype last = end;
            while (last > begin && isBlank(value[last - 1]))
                --last;
            i = end + 1;
            if (begin == last && end == inside->end && numbers.empty())
                break; // PackedInt32Array()
            const std::optional<int64_t> number = readWhole(value.sliced(begin, last - begin));
            if (!number || *number < INT32_MIN || *number > INT32_MAX)
                return Problem{base + begin, where,
                               QStringLiteral("“%1” is not a 32-bit whole number")
                                   .arg(QString::fromUtf8(value.sliced(begin, last - begin)))};
            numbers.push_back({base + begin, base + last});
            words.push_back(uint32_t(int32_t(*number)));
        }
        if (words.size() % 3 != 0)
            return Problem{
                base, where,
                QStringLiteral("it holds %1 numbers, not three for each cell").arg(words.size())};
        StretchWriter writer(bytes_);
        for (size_t c = 0; c < words.size(); c += 3) {
            const auto found = sources.find(words[c + 1] & 0xffff);
            if (found == sources.end())
                continue;
            uint32_t x = words[c + 1] >> 16;
            uint32_t y = words[c + 2] & 0xffff;
            uint32_t alternative = words[c + 2] >> 16;
            QString why;
            if (!mapCell(*found->second, x, y, alternative, why))
                return Problem{numbers[c + 1].begin, where,
                               QStringLiteral("%1 (the cell %2, %3)")
                                   .arg(why)
                                   .arg(int16_t(words[c] & 0xffff))
                                   .arg(int16_t(words[c] >> 16))};
            const int64_t newSource = found->second->newSource;
            const uint32_t second =
                (newSource >= 0 ? uint32_t(newSource) : words[c + 1] & 0xffff) | x << 16;
            const uint32_t third = y | alternative << 16;
            if (second == words[c + 1] && third == words[c + 2])
                continue;
            if (second != words[c + 1])
                writer.replaceNumber(numbers[c + 1], int32_t(second));
            if (third != words[c + 2])
                writer.replaceNumber(numbers[c + 2], int32_t(third));
            ++result_.cellsChanged;
        }
        if (!writer.isEmpty())
            writer.finish(splice);
        return std::nullopt;
    }
};

// Godot counts an atlas's tiles from its texture alone, and the texture may be the sheet as it
// was or, saved before its levels are remapped, as it is afterwards (packed, extruded): counted
// the way that fits the remap, the tileset takes the tile count and columns from before.
QString fitSheet(TilesetFacts& facts, const TileRemap& remap)
{
    TilesetFacts read = facts;
    if (QString unreadable = completeFromImage(read); !unreadable.isEmpty())
        return unreadable;
    const QString asBefore = checkSheetTileset(read, remap);
    TilesetFacts after = read;
    after.spacing = remap.grid == TileRemap::GridChange::Added     ? 1
                    : remap.grid == TileRemap::GridChange::Removed ? 0
                    : remap.spacing >= 0                           ? remap.spacing
                                                                   : read.spacing;
    if (remap.margin >= 0)
        after.margin = remap.margin;
    const int64_t columns = after.knownColumns();
    const int64_t count = after.knownTileCount();
    // A change of layout alone knows no tile count: the texture's, counted as it is laid out now.
    const bool fitsAfter =
        columns > 0 && (remap.newColumns() <= 0 || columns == remap.newColumns()) &&
        (remap.keepsIds ? count > 0
                        : count >= remap.newTileCount() && count < remap.newTileCount() + columns);
    facts = read;
    if (asBefore.isEmpty() || !fitsAfter)
        return asBefore;
    facts.columns = remap.columns > 0 ? remap.columns : columns;
    facts.tileCount = remap.keepsIds ? count : remap.tileCount();
    return checkSheetTileset(facts, remap);
}

// Checks one of the sheet's atlas sources against the remap and rewrites it, its definitions and
// its layout; one of a TileSet file of its own is rewritten with that file. sheet: its tile grid.
std::optional<LevelBytesResult> remapSheetAtlas(Atlas& atlas, const QByteArray& bytes,
                                                const LevelContext& context, Remapper& remapper,
                                                LevelBytesResult& result, SheetAtlas& sheet)
{
    const TileRemap& remap = context.remap;
    result.sheetImage = imageOf(atlas.facts);
    if (atlas.problem)
        return failedAt(bytes, *atlas.problem);
    if (atlas.uneven)
        return failedAt(bytes, *atlas.uneven);
    const QString unfit = fitSheet(atlas.facts, remap);
    if (unfit.isEmpty() && context.options.use)
        context.options.use->tilesets.push_back(atlas.facts);
    const bool external = !atlas.facts.file.isEmpty();
    if (!unfit.isEmpty() && external)
        return failedWith(QStringLiteral("its TileSet %1 cannot be used: %2")
                              .arg(quotedPath(atlas.facts.file), unfit));
    const Problem at{atlas.section ? atlas.section->header.begin : 0,
                     atlas.section ? atlas.section->label() : QString(), unfit};
    if (!unfit.isEmpty())
        return failedAt(bytes, at);
    sheet.remap = &remap;
    sheet.columns = atlas.facts.knownColumns();
    sheet.tiles = atlas.facts.knownTileCount();
    sheet.newColumns = remap.newColumnCount > 0 ? remap.newColumnCount : sheet.columns;
    if (sheet.columns <= 0 || sheet.newColumns <= 0)
        return failedAt(bytes,
                        {at.at, at.where, QStringLiteral("its texture holds no whole tile")});
    if (external)
        return std::nullopt;
    std::map<int32_t, KeptDefinition> kept;
    if (auto problem = remapper.remapAtlas(atlas, sheet, kept))
        return failedAt(bytes, *problem);
    remapper.rewriteLayout(atlas);
    return std::nullopt;
}

// Whether one of this file's sources of the sheet's texture shows the sheet as the remap knows it.
bool showsWholeSheet(const Atlas& atlas, const TileRemap& remap)
{
    TilesetFacts facts = atlas.facts;
    return !atlas.uneven && fitSheet(facts, remap).isEmpty();
}

// Another source of the sheet's texture whose margins start it at a tile of the sheet, its tiles
// cut alike: it shows a region of the sheet, the part from that tile on. Its place in the sheet,
// from a source that shows the whole sheet; none when it lies on no tile.
std::optional<SheetAtlas> regionOf(const Scene& scene, const Atlas& atlas,
                                   const std::map<size_t, SheetAtlas>& sheets)
{
    for (const auto& [index, sheet] : sheets) {
        const TilesetFacts& whole = scene.atlases[index].facts;
        if (fileIdentity(imageOf(whole)) != fileIdentity(imageOf(atlas.facts)) ||
            whole.tileWidth != atlas.facts.tileWidth ||
            whole.tileHeight != atlas.facts.tileHeight || atlas.separation[0] != whole.spacing ||
            atlas.separation[1] != whole.spacing)
            continue;
        const int64_t across = atlas.margins[0] - whole.margin;
        const int64_t down = atlas.margins[1] - whole.margin;
        const int64_t pitchX = whole.tileWidth + whole.spacing;
        const int64_t pitchY = whole.tileHeight + whole.spacing;
        if (across < 0 || down < 0 || across % pitchX != 0 || down % pitchY != 0 ||
            across / pitchX >= sheet.columns)
            continue;
        SheetAtlas region = sheet;
        region.whole = index;
        region.offsetX = across / pitchX;
        region.offsetY = down / pitchY;
        return region;
    }
    return std::nullopt;
}

// Carries a source of a region of the sheet through the remap: its definitions, and its margins
// once the sheet's layout changes.
std::optional<Problem> remapRegion(const Scene& scene, const Atlas& atlas, SheetAtlas& region,
                                   const LevelContext& context, Remapper& remapper)
{
    std::map<int32_t, KeptDefinition> kept;
    if (auto problem = remapper.remapAtlas(atlas, region, kept))
        return problem;
    const TileRemap& remap = context.remap;
    if (!layoutMoves(remap))
        return std::nullopt;
    const TilesetFacts& whole = scene.atlases[region.whole].facts;
    const SheetGeometry after = geometryAfter(whole, remap);
    remapper.setLayout(atlas,
                       {after.margin + region.offsetX * (whole.tileWidth + after.spacing),
                        after.margin + region.offsetY * (whole.tileHeight + after.spacing)},
                       after.spacing);
    return std::nullopt;
}

// A node whose cells name a TileSet that cannot be found: one of an instanced scene (its TileSet
// stands in that scene), or a tile_set naming no resource of the file. Its cells may show the
// sheet, so the file is refused rather than left half remapped.
std::optional<Problem> unknownTileSet(const Scene& scene)
{
    for (const GodotSection& node : scene.resource.sections) {
        if (node.tag != "node" || scene.tileSetOf(node))
            continue;
        const bool cells =
            std::any_of(node.properties.begin(), node.properties.end(), [](const auto& property) {
                return property.key == "tile_map_data" || property.key == "tile_data" ||
                       (property.key.startsWith("layer_") && property.key.endsWith("/tile_data"));
            });
        const GodotProperty* tileSet = node.property("tile_set");
        if (cells && (tileSet || node.attribute("type").isEmpty()))
            return Problem{node.header.begin, node.label(),
                           tileSet ? QStringLiteral("its tile_set names no TileSet of this file")
                                   : QStringLiteral("it holds cells of an instanced scene, whose "
                                                    "TileSet Tilegrid does not follow")};
    }
    return std::nullopt;
}

// The cells of the scene's layers and of its TileSets' patterns and proxies.
std::optional<Problem> remapAllCells(const Scene& scene, Remapper& remapper,
                                     const std::map<size_t, SheetAtlas>& sheets)
{
    for (const GodotSection& section : scene.resource.sections) {
        if (section.tag != "node")
            continue;
        if (const TileSetUse* tileset = scene.tileSetOf(section))
            if (auto problem = remapper.remapCells(section, *tileset, sheets))
                return problem;
    }
    std::set<const GodotSection*> patterns; // each once, however many TileSets name it
    for (const TileSetUse& tileset : scene.tilesets) {
        if (!tileset.section)
            continue;
        for (const QByteArray& id : tileset.patterns)
            if (const GodotSection* pattern = scene.resource.section("sub_resource", id);
                pattern && patterns.insert(pattern).second)
                if (auto problem = remapper.remapCells(*pattern, tileset, sheets))
                    return problem;
        if (auto problem = remapper.remapProxies(*tileset.section, tileset, sheets))
            return problem;
    }
    return std::nullopt;
}

// The atlas's margin and separation, from its image: packed (none) or with a one-pixel grid after
// every tile; empty with why when it is neither.
QString atlasLayout(const QString& atlas, const TilesetFacts& tile, int64_t columns,
                    int64_t& spacing)
{
    const QSize size = QImageReader(atlas).size();
    if (!size.isValid())
        return QStringLiteral("the atlas %1 cannot be read").arg(quotedPath(atlas));
    for (spacing = 0; spacing <= 1; ++spacing)
        if (size.width() == columns * (tile.tileWidth + spacing) ||
            size.width() == columns * (tile.tileWidth + spacing) - spacing)
            return QString();
    return QStringLiteral("the atlas %1 is %2 pixels wide, which is no packing of %3 columns of "
                          "tiles %4 pixels wide")
        .arg(quotedPath(atlas))
        .arg(size.width())
        .arg(columns)
        .arg(tile.tileWidth);
}

// One TileSet's sources of merged sheets made one; merged: their ids and atlases, by id. The one
// kept shows the ext_resource atlasTexture (of this file).
std::optional<LevelBytesResult>
mergeSources(Scene& scene, const TileSetUse& tileset,
             const std::vector<std::pair<int64_t, size_t>>& merged, const std::vector<int>& sheetOf,
             const QByteArray& atlasTexture, const QByteArray& bytes, const LevelContext& context,
             Remapper& remapper, std::map<size_t, SheetAtlas>& sheets)
{
    const AtlasMerge& merge = *context.options.merge;
    const Atlas& first = scene.atlases[merged.front().second];
    std::map<int32_t, KeptDefinition> kept;
    for (const auto& [source, a] : merged) {
        Atlas& atlas = scene.atlases[a];
        const TileRemap& remap = merge.sheets[size_t(sheetOf[a])].remap;
        auto refuse = [&](const QString& why) {
            return atlas.section
                       ? failedAt(bytes, {atlas.section->header.begin, atlas.section->label(), why})
                       : failedWith(QStringLiteral("its TileSet %1 cannot be used: %2")
                                        .arg(quotedPath(atlas.facts.file), why));
        };
        if (atlas.problem || atlas.uneven)
            return failedAt(bytes, atlas.problem ? *atlas.problem : *atlas.uneven);
        if (atlas.facts.tileWidth != first.facts.tileWidth ||
            atlas.facts.tileHeight != first.facts.tileHeight)
            return refuse(QStringLiteral("its tiles are %1 × %2 pixels and those of %3 %4 × %5, "
                                         "but one atlas source has one tile size")
                              .arg(atlas.facts.tileWidth)
                              .arg(atlas.facts.tileHeight)
                              .arg(first.facts.label())
                              .arg(first.facts.tileWidth)
                              .arg(first.facts.tileHeight));
        if (const QString unfit = fitSheet(atlas.facts, remap); !unfit.isEmpty())
            return refuse(unfit);
        SheetAtlas sheet;
        sheet.remap = &remap;
        sheet.columns = atlas.facts.knownColumns();
        sheet.tiles = atlas.facts.knownTileCount();
        sheet.newColumns = remap.newColumns() > 0 ? remap.newColumns() : sheet.columns;
        sheet.newSource = merged.front().first;
        if (sheet.columns <= 0 || sheet.newColumns <= 0)
            return refuse(QStringLiteral("its texture holds no whole tile"));
        if (!atlas.section) {
            sheets.emplace(a, sheet);
            continue;
        }
        const bool keeps = &atlas == &first;
        const GodotProperty& texture = *first.section->property("texture");
        if (auto problem =
                remapper.remapAtlas(atlas, sheet, kept, keeps ? -1 : remapper.lineEnd(texture)))
            return failedAt(bytes, *problem);
        sheets.emplace(a, sheet);
        if (keeps) {
            int64_t spacing = 0;
            if (const QString odd =
                    atlasLayout(merge.atlas, atlas.facts, sheet.newColumns, spacing);
                !odd.isEmpty())
                return refuse(odd);
            remapper.setLayout(atlas, 0, spacing);
            remapper.splice.replace(texture.value, "ExtResource(\"" + atlasTexture + "\")");
            continue;
        }
        // The source leaves, with the blank lines after it, and so does the TileSet's line of it.
        const auto next =
            std::find_if(scene.resource.sections.begin(), scene.resource.sections.end(),
                         [&](const GodotSection& section) {
                             return section.header.begin > atlas.section->header.begin;
                         });
        remapper.splice.replace({atlas.section->header.begin, next == scene.resource.sections.end()
                                                                  ? bytes.size()
                                                                  : next->header.begin},
                                {});
        if (const GodotProperty* line =
                tileset.section->property("sources/" + QByteArray::number(source)))
            remapper.splice.replace(line->line, {});
    }
    return std::nullopt;
}

// Carries a file through a merge of several sheets into one atlas. In each TileSet the sources
// that show merged sheets become one, that of the smallest id: it shows the atlas and takes the
// others' definitions, the others leave, and every cell, pattern and proxy of theirs names it.
LevelBytesResult remapMerge(Scene& scene, const QByteArray& bytes, const LevelContext& context,
                            std::map<const GodotProperty*, std::pair<QByteArray, bool>> decoded)
{
    const AtlasMerge& merge = *context.options.merge;
    LevelBytesResult result;
    result.isTileset = result.othersRead = scene.isTileSet;
    result.sheetImage = merge.atlas;
    std::vector<int> sheetOf(scene.atlases.size(), -1);
    for (size_t a = 0; a < scene.atlases.size(); ++a)
        for (size_t m = 0; m < merge.sheets.size(); ++m)
            if (!scene.atlases[a].facts.image.isEmpty() &&
                fileIdentity(imageOf(scene.atlases[a].facts)) ==
                    fileIdentity(merge.sheets[m].image))
                sheetOf[a] = int(m);
    if (std::all_of(sheetOf.begin(), sheetOf.end(), [](int m) { return m < 0; })) {
        const bool stays = !context.carriedBy.isEmpty();
        result.status = stays ? LevelFileStatus::Updated : LevelFileStatus::Skipped;
        if (stays)
            result.bytes = bytes;
        else
            result.reason = QStringLiteral("it shows none of the merged sheets");
        return result;
    }
    Remapper remapper(bytes, context, result);
    remapper.decoded_ = std::move(decoded);
    // The atlas's texture, inserted before anything else is edited where it goes.
    QByteArray atlasTexture;
    auto texture = [&]() -> std::optional<LevelBytesResult> {
        if (!atlasTexture.isEmpty())
            return std::nullopt;
        const QString relative = QDir(scene.root()).relativeFilePath(merge.atlas);
        if (relative.startsWith(QLatin1StringView("..")))
            return failedWith(QStringLiteral("the atlas %1 lies outside the Godot project %2")
                                  .arg(quotedPath(merge.atlas), quotedPath(scene.root())));
        atlasTexture = "atlas_1";
        for (int n = 2; scene.resource.section("ext_resource", atlasTexture); ++n)
            atlasTexture = "atlas_" + QByteArray::number(n);
        const auto before =
            std::find_if(scene.resource.sections.begin() + 1, scene.resource.sections.end(),
                         [](const GodotSection& section) { return section.tag != "ext_resource"; });
        const qsizetype at =
            before == scene.resource.sections.end() ? bytes.size() : before->header.begin;
        remapper.splice.insert(at, "[ext_resource type=\"Texture2D\" path=\"res://" +
                                       relative.toUtf8() + "\" id=\"" + atlasTexture + "\"]" +
                                       remapper.endOfLine() + remapper.endOfLine());
        return std::nullopt;
    };
    std::map<size_t, SheetAtlas> sheets;
    std::set<QString> carried;
    for (const TileSetUse& tileset : scene.tilesets) {
        std::vector<std::pair<int64_t, size_t>> merged; // by source id
        for (const auto& [source, a] : tileset.sources)
            if (sheetOf[a] >= 0)
                merged.emplace_back(source, a);
        if (merged.empty())
            continue;
        if (tileset.section)
            if (auto failed = texture())
                return *failed;
        if (auto failed = mergeSources(scene, tileset, merged, sheetOf, atlasTexture, bytes,
                                       context, remapper, sheets))
            return *failed;
        if (!tileset.file.isEmpty() && carried.insert(tileset.file).second)
            result.carried.push_back({tileset.file, CarriedFile::Kind::Tileset});
    }
    remapper.insertMoved();
    if (auto problem = remapAllCells(scene, remapper, sheets))
        return failedAt(bytes, *problem);
    result.status = LevelFileStatus::Updated;
    result.bytes = remapper.splice.isEmpty() ? bytes : remapper.splice.apply(bytes);
    return result;
}

class GodotFormat final : public LevelFormat
{
  public:
    QString names() const override { return QStringLiteral("Godot TSCN, TRES"); }
    QString tilesetNames() const override { return QStringLiteral("Godot TileSet"); }
    QStringList patterns() const override
    {
        return {QStringLiteral("*.tscn"), QStringLiteral("*.tres")};
    }

    ExternalTileset readTilesets(const QByteArray& bytes, const QString& path) const override
    {
        ExternalTileset result;
        const TileRemap none;
        const LevelRemapOptions options;
        const ExternalTilesetReader noReader;
        const LevelContext context{none,     options, path, QFileInfo(path).absolutePath(),
                                   noReader, {}};
        Scene scene(bytes, context);
        Problem problem;
        if (scene.read(problem, false)) {
            result.error = QStringLiteral("%1: %2").arg(linePlace(bytes, problem.at), problem.why);
            return result;
        }
        if (!scene.isTileSet) {
            result.error = QStringLiteral("it is not a Godot TileSet");
            return result;
        }
        if (scene.tilesets.empty()) {
            result.error = QStringLiteral("its TileSet has no [resource] section");
            return result;
        }
        for (const auto& [source, atlas] : scene.tilesets.front().sources) {
            TilesetFacts facts = scene.atlases[atlas].facts;
            facts.key = source;
            result.tilesets.push_back(facts);
        }
        return result;
    }

    std::vector<TilesetFacts> shownTilesets(const QByteArray& bytes,
                                            const LevelContext& context) const override
    {
        Scene scene(bytes, context);
        Problem problem;
        if (scene.read(problem, bool(context.readTileset)))
            return {};
        return scene.facts();
    }

    bool scan(const QByteArray& bytes, const LevelContext& context, LevelSites& sites,
              Problem& problem) const override
    {
        Scene scene(bytes, context);
        if (auto failed = scene.read(problem, false))
            return false;
        sites.isTileset = scene.isTileSet;
        for (const Atlas& atlas : scene.atlases) {
            TilesetSite site;
            site.facts = atlas.facts;
            sites.tilesets.push_back(std::move(site));
        }
        return true;
    }

    LevelBytesResult remap(const QByteArray& bytes, const LevelContext& context) const override
    {
        Scene scene(bytes, context);
        Problem problem;
        if (auto failed = scene.read(problem, true))
            return *failed;
        if (auto problem = unknownTileSet(scene))
            return failedAt(bytes, *problem);
        if (scene.elsewhere)
            return failedAt(bytes, *scene.elsewhere);
        // Broken cell data are refused whichever sheet they show; they are decoded once.
        std::map<const GodotProperty*, std::pair<QByteArray, bool>> decoded;
        for (const GodotSection& section : scene.resource.sections)
            if (const GodotProperty* data =
                    section.tag == "node" ? section.property("tile_map_data") : nullptr) {
                auto& [cells, base64] = decoded[data];
                if (auto problem = decodeLayerData(bytes, section, *data, cells, base64))
                    return failedAt(bytes, *problem);
            }
        if (context.options.merge)
            return remapMerge(scene, bytes, context, std::move(decoded));
        LevelBytesResult result;
        result.isTileset = result.othersRead = scene.isTileSet;
        const std::vector<TilesetFacts> facts = scene.facts();
        const SheetChoice choice =
            chooseSheet(facts, context.options.sheet, context.options.sheetOrByName);
        if (choice.verdict != SheetChoice::Verdict::Use)
            return withoutTheSheet(choice, bytes, context, result);
        Remapper remapper(bytes, context, result);
        remapper.decoded_ = std::move(decoded);
        std::map<size_t, SheetAtlas> sheets;
        std::set<QString> carried;
        std::vector<size_t> regions; // sources of the texture that may show a region of it
        for (size_t a = 0; a < scene.atlases.size(); ++a) {
            if (!choice.isSheet[a])
                continue;
            Atlas& atlas = scene.atlases[a];
            if (atlas.section && !atlas.problem && !showsWholeSheet(atlas, context.remap)) {
                regions.push_back(a);
                continue;
            }
            SheetAtlas sheet;
            if (auto failed = remapSheetAtlas(atlas, bytes, context, remapper, result, sheet))
                return *failed;
            sheets.emplace(a, sheet);
            if (!atlas.facts.file.isEmpty() && carried.insert(atlas.facts.file).second)
                result.carried.push_back({atlas.facts.file, CarriedFile::Kind::Tileset});
        }
        for (const size_t a : regions) {
            Atlas& atlas = scene.atlases[a];
            const std::optional<SheetAtlas> region = regionOf(scene, atlas, sheets);
            SheetAtlas sheet = region.value_or(SheetAtlas());
            if (!region) { // refused as the whole sheet would be, saying why
                if (auto failed = remapSheetAtlas(atlas, bytes, context, remapper, result, sheet))
                    return *failed;
            } else if (auto problem = remapRegion(scene, atlas, sheet, context, remapper)) {
                return failedAt(bytes, *problem);
            }
            sheets.emplace(a, sheet);
        }
        if (auto problem = remapAllCells(scene, remapper, sheets))
            return failedAt(bytes, *problem);
        result.status = LevelFileStatus::Updated;
        result.bytes = remapper.splice.isEmpty() ? bytes : remapper.splice.apply(bytes);
        return result;
    }
};

} // namespace

const LevelFormat& godotFormat()
{
    static const GodotFormat format;
    return format;
}
