#include "level/formats/ldtk/ldtk_merge.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "document/file_messages.h"
#include "level/atlas_merge.h"
#include "level/json_scanner.h"
#include "level/sheet_tileset.h"

namespace
{

using Value = JsonScanner::Value;

// An identifier as LDtk keeps them: ASCII letters, digits and underscores, the first a capital
// letter or an underscore.
QString identifierOf(const QString& name)
{
    QString id;
    for (const QChar c : name)
        id += (c.unicode() < 128 && c.isLetterOrNumber()) || c == u'_' ? c : u'_';
    if (id.isEmpty() || id[0].isDigit())
        id.prepend(u'_');
    id[0] = id[0].toUpper();
    return id;
}

struct Source {
    size_t tileset = 0; // among the project's tilesets
    size_t sheet = 0;   // among the merge's sheets
    int64_t uid = -1;
    std::set<int32_t> becomes; // the atlas tiles its tiles become
};

// A custom data entry of the atlas, and the source it came from.
struct Entry {
    QByteArray text;
    QByteArray data; // the text without its tile id
    size_t source = 0;
};

// A merged tileset definition as the renumbering left it, read on its own.
struct Definition {
    explicit Definition(QByteArray written) : text(std::move(written)), json(text)
    {
        Problem ignored; // the renumbering wrote it from checked JSON
        if (json.check(ignored))
            object = json.root();
    }
    QByteArrayView slice(Span span) const
    {
        return QByteArrayView(text).sliced(span.begin, span.size());
    }
    QByteArray text;
    JsonScanner json;
    Value object;
};

class LdtkMerge
{
  public:
    LdtkMerge(const LevelSites& sites, const QByteArray& bytes, const LevelContext& context)
        : sites_(sites), bytes_(bytes), context_(context), merge_(*context.options.merge),
          project_(sites.tilesetsFrom.isEmpty())
    {
    }

    LevelBytesResult run()
    {
        if (auto failed = findSources())
            return *failed;
        if (sources_.empty()) {
            LevelBytesResult result;
            // A level file carried along by its project stays as it is.
            const bool stays = !context_.carriedBy.isEmpty();
            result.status = stays ? LevelFileStatus::Updated : LevelFileStatus::Skipped;
            if (stays)
                result.bytes = bytes_;
            else
                result.reason = QStringLiteral("it shows none of the %1 merged sheets")
                                    .arg(merge_.sheets.size());
            return result;
        }
        TextSplice splice;
        if (auto failed = renumber(splice))
            return *failed;
        if (project_)
            if (auto failed = gather(splice))
                return *failed;
        follow(splice);
        result_.status = LevelFileStatus::Updated;
        result_.othersRead = true;
        result_.sheetImage = merge_.atlas;
        result_.bytes = splice.apply(bytes_);
        for (const QString& file : sites_.levelFiles)
            result_.carried.push_back({file, CarriedFile::Kind::Level});
        return result_;
    }

  private:
    const TileRemap& remapOf(const Source& source) const
    {
        return merge_.sheets[source.sheet].remap;
    }
    QString sheetName(const Source& source) const
    {
        return mergedSheetName(merge_, source.sheet);
    }

    // The project's tilesets that show merged sheets, each with its sheet.
    std::optional<LevelBytesResult> findSources()
    {
        if (project_) {
            for (const TilesetSite& site : sites_.tilesets) {
                facts_.push_back(site.facts);
                defs_.push_back(&site);
            }
            projectFolder_ = context_.folder;
        } else {
            const ExternalTileset read = context_.readTileset(sites_.tilesetsFrom);
            if (!read.error.isEmpty())
                return failedWith(QStringLiteral("its %1 cannot be used: %2")
                                      .arg(sites_.tilesetsFromNoun, read.error));
            facts_ = read.tilesets;
            defs_.assign(facts_.size(), nullptr);
            projectFolder_ = QFileInfo(sites_.tilesetsFrom).absolutePath();
        }
        const std::vector<int> sheetOf = mergedSheetsShown(facts_, merge_);
        for (size_t t = 0; t < sheetOf.size(); ++t) {
            if (sheetOf[t] < 0)
                continue;
            Source source{t, size_t(sheetOf[t]), facts_[t].key, {}};
            for (const int32_t now : remapOf(source).newIndexOf)
                if (now >= 0)
                    source.becomes.insert(now);
            sources_.push_back(std::move(source));
        }
        return std::nullopt;
    }

    // The first pass: each merged tileset renumbered for the atlas as a remap of its own sheet
    // would, all of them laid out as the first, which becomes the atlas.
    std::optional<LevelBytesResult> renumber(TextSplice& splice)
    {
        SheetTileset atlas;
        for (const Source& source : sources_) {
            TilesetFacts facts = facts_[source.tileset];
            const TilesetSite* site = defs_[source.tileset];
            const TileRemap& remap = remapOf(source);
            if (site && site->problem)
                return failedAt(bytes_, *site->problem);
            SheetTileset sheet;
            QString unfit = completeFromImage(facts);
            if (unfit.isEmpty())
                unfit = planSheetTileset(site, facts, remap, sheet);
            if (!unfit.isEmpty())
                return site ? failedAt(bytes_, {site->at, site->where, unfit})
                            : failedWith(QStringLiteral("its %1's tileset %2 cannot be used: %3")
                                             .arg(sites_.tilesetsFromNoun, facts.label(), unfit));
            if (&source == &sources_.front())
                atlas = sheet;
            sheet.newMargin = atlas.newMargin;
            sheet.newSpacing = atlas.newSpacing;
            sheet.newColumns = atlas.newColumns;
            sheet.newRows = atlas.newRows;
            sheet.newWidth = atlas.newWidth;
            sheet.newHeight = atlas.newHeight;
            if (site) {
                const QString where = site->dataWhere.isEmpty()
                                          ? QStringLiteral("tileset %1").arg(facts.label())
                                          : site->dataWhere;
                if (auto problem =
                        remapTileData(*site, bytes_, remap, where, splice, result_.tilesMoved,
                                      nullptr, context_.options.tileProperties, *sites_.edits))
                    return failedAt(bytes_, *problem);
                rewriteSheetTileset(sheet, remap, bytes_, splice);
            }
            const std::map<int64_t, SheetTileset> one{{source.uid, sheet}};
            if (auto problem =
                    remapKeyedSites(sites_, bytes_, remap, one, nullptr, result_, splice))
                return failedAt(bytes_, *problem);
        }
        atlasPath_ = QDir(projectFolder_).relativeFilePath(merge_.atlas);
        return std::nullopt;
    }

    // Sets a member of a definition to value, adding it where it is missing.
    void set(const JsonFields& fields, Value object, QStringView key, const QByteArray& value,
             TextSplice& splice) const
    {
        if (const Value found = fields.value(key); found.valid())
            splice.replace(found.span, value);
        else
            splice.insert(object.span.begin + 1, jsonString(key.toString()) + ':' + value + ',');
    }

    // The merged definitions become the first, which gathers their custom data, enum tags and
    // saved selections and shows the atlas; the others leave the project.
    std::optional<LevelBytesResult> gather(TextSplice& splice)
    {
        for (const Source& source : sources_) {
            const TilesetSite& site = *defs_[source.tileset];
            definitions_.push_back(
                std::make_unique<Definition>(splice.applyWithin(bytes_, site.whole)));
            splice.dropWithin(site.whole);
            if (!definitions_.back()->object.valid())
                return failedAt(bytes_, {site.at, site.where,
                                         QStringLiteral("its tiles renumbered, it is no JSON")});
        }
        carries_.resize(sources_.size());
        for (size_t k = 0; k < sources_.size(); ++k) {
            const Definition& definition = *definitions_[k];
            const JsonFields fields(definition.json, definition.object);
            if (auto failed = gatherData(definition, fields, k))
                return failed;
            if (auto failed = gatherTags(definition, fields, k))
                return failed;
            definition.json.elements(
                fields.value(u"savedSelections"), [&](int64_t, Value selection) {
                    selections_ << definition.slice(selection.span).toByteArray();
                });
        }
        // A tile that becomes an atlas tile with custom data must carry the same itself.
        for (const auto& [now, entry] : entries_)
            for (size_t k = 0; k < sources_.size(); ++k)
                if (!carries_[k].count(now) && sources_[k].becomes.count(int32_t(now)))
                    return refused(entry.source, k, now, false);

        std::vector<bool> removed(sites_.tilesets.size(), false);
        for (const Source& source : sources_)
            if (&source != &sources_.front())
                removed[source.tileset] = true;
        QStringList others; // the identifiers of the tilesets that stay
        for (size_t t = 0; t < facts_.size(); ++t)
            if (!removed[t] && t != sources_.front().tileset)
                others << facts_[t].name;
        splice.replace(defs_[sources_.front().tileset]->whole, atlasText(others));
        jsonEdits().removeTilesets(sites_.tilesets, removed, bytes_, splice);
        return std::nullopt;
    }

    // The custom data of the kth source's tileset, refused where it differs from another's for
    // the same atlas tile.
    std::optional<LevelBytesResult> gatherData(const Definition& definition,
                                               const JsonFields& fields, size_t k)
    {
        const JsonScanner& json = definition.json;
        std::optional<std::pair<size_t, int64_t>> differ; // the other source, the tile
        json.elements(fields.value(u"customData"), [&](int64_t, Value entry) {
            const Value id = JsonFields(json, entry).value(u"tileId");
            int64_t now = -1;
            if (differ || !json.integer(id, now))
                return;
            Entry gathered{definition.slice(entry.span).toByteArray(),
                           definition.slice({entry.span.begin, id.span.begin}).toByteArray() +
                               definition.slice({id.span.end, entry.span.end}).toByteArray(),
                           k};
            carries_[k].insert(now);
            const auto [found, fresh] = entries_.emplace(now, gathered);
            if (!fresh && found->second.data != gathered.data)
                differ = std::pair(found->second.source, now);
        });
        if (differ)
            return refused(differ->first, k, differ->second, true);
        return std::nullopt;
    }

    // The kth source's enum tags joined to the others': a tile keeps every tag it had.
    std::optional<LevelBytesResult> gatherTags(const Definition& definition,
                                               const JsonFields& fields, size_t k)
    {
        const JsonScanner& json = definition.json;
        bool tagged = false;
        json.elements(fields.value(u"enumTags"), [&](int64_t, Value tag) {
            const JsonFields tagFields(json, tag);
            const QString value = json.string(tagFields.value(u"enumValueId"));
            if (!tags_.count(value))
                tagOrder_.push_back(value);
            std::vector<int64_t>& ids = tags_[value];
            json.elements(tagFields.value(u"tileIds"), [&](int64_t, Value id) {
                int64_t now = -1;
                if (json.integer(id, now) && std::find(ids.begin(), ids.end(), now) == ids.end()) {
                    ids.push_back(now);
                    tagged = true;
                }
            });
        });
        int64_t from = -1;
        if (!json.integer(fields.value(u"tagsSourceEnumUid"), from) || !tagged)
            return std::nullopt;
        if (tagSource_ && from != tagEnum_)
            return failedWith(QStringLiteral("the tilesets of the sheets %1 and %2 take their "
                                             "enum tags from different enums, and one tileset "
                                             "takes them from one")
                                  .arg(sheetName(*tagSource_), sheetName(sources_[k])));
        tagEnum_ = from;
        tagSource_ = &sources_[k];
        return std::nullopt;
    }

    // The first merged definition made the atlas's: its name, image and what was gathered.
    QByteArray atlasText(const QStringList& others) const
    {
        const Definition& base = *definitions_.front();
        const JsonFields fields(base.json, base.object);
        TextSplice splice;
        if (sources_.size() > 1) {
            QByteArrayList data;
            for (const auto& [now, entry] : entries_)
                data << entry.text;
            QByteArrayList tagText;
            for (const QString& value : tagOrder_) {
                QByteArrayList ids;
                for (const int64_t id : tags_.at(value))
                    ids << QByteArray::number(id);
                tagText << "{\"enumValueId\":" + jsonString(value) + ",\"tileIds\":[" +
                               ids.join(',') + "]}";
            }
            set(fields, base.object, u"customData", '[' + data.join(',') + ']', splice);
            set(fields, base.object, u"enumTags", '[' + tagText.join(',') + ']', splice);
            set(fields, base.object, u"savedSelections", '[' + selections_.join(',') + ']', splice);
            if (tagSource_)
                set(fields, base.object, u"tagsSourceEnumUid", QByteArray::number(tagEnum_),
                    splice);
            gatherCaches(fields, splice);
        }
        const QString name = identifierOf(QFileInfo(merge_.atlas).completeBaseName());
        QString identifier = name;
        for (int n = 2; others.contains(identifier); ++n)
            identifier = name + QStringLiteral("_%1").arg(n);
        set(fields, base.object, u"identifier", jsonString(identifier), splice);
        set(fields, base.object, u"relPath", jsonString(atlasPath_), splice);
        return splice.apply(base.text);
    }

    // The editor's per-tile caches of the merged tilesets made one: each atlas tile takes what
    // the first tileset whose tiles become it says; when one of them has none, none is kept, and
    // LDtk works it out again.
    void gatherCaches(const JsonFields& fields, TextSplice& splice) const
    {
        const Definition& base = *definitions_.front();
        const Value cache = fields.value(u"cachedPixelData");
        if (cache.kind != '{')
            return;
        for (const auto& [key, width] : {std::pair(u"opaqueTiles", 1), {u"averageColors", 4}}) {
            const Value mine = JsonFields(base.json, cache).value(key);
            if (mine.kind != '"')
                continue;
            QByteArray joined = base.slice(base.json.stringInside(mine)).toByteArray();
            bool whole = true;
            for (size_t k = 0; k < sources_.size(); ++k) {
                const Definition& theirs = *definitions_[k];
                const JsonScanner& json = theirs.json;
                const Value units =
                    JsonFields(json, JsonFields(json, theirs.object).value(u"cachedPixelData"))
                        .value(key);
                const QByteArrayView text = theirs.slice(json.stringInside(units));
                whole = whole && units.kind == '"' && text.size() == joined.size();
                for (const int32_t now : sources_[k].becomes)
                    if (whole && k > 0 && !sources_.front().becomes.count(now) &&
                        firstBecoming(now) == &sources_[k])
                        joined.replace(qsizetype(now) * width, width,
                                       text.sliced(qsizetype(now) * width, width).toByteArray());
            }
            if (!whole) {
                splice.replace(cache.span, "null");
                return;
            }
            splice.replace(base.json.stringInside(mine), joined);
        }
    }

    const Source* firstBecoming(int32_t now) const
    {
        for (const Source& source : sources_)
            if (source.becomes.count(now))
                return &source;
        return nullptr;
    }

    // Refused: tiles of two sources become atlas tile now, but their custom data differ (or only
    // the first has any).
    LevelBytesResult refused(size_t one, size_t other, int64_t now, bool both) const
    {
        const TilesetSite* site = defs_[sources_[other].tileset];
        return failedAt(bytes_,
                        {site ? site->at : 0, site ? site->where : QString(),
                         bothBecome(merge_, sources_[one].sheet, sources_[other].sheet, now,
                                    both ? QStringLiteral("their custom data differ")
                                         : QStringLiteral("only the first has custom data"))});
    }

    // Every reference to a merged tileset names the atlas's, and a layer that shows one names
    // the atlas's image.
    void follow(TextSplice& splice) const
    {
        const int64_t atlas = sources_.front().uid;
        for (const NumberSite& uid : sites_.tilesetKeys)
            if (uid.value != atlas && isMerged(uid.value))
                splice.replaceNumber(uid.span, atlas);
        const QByteArray image = jsonString(atlasPath_);
        for (const LevelSites::ImageSite& shown : sites_.tilesetImages)
            if (isMerged(shown.tileset))
                splice.replace(shown.text, image);
    }

    bool isMerged(int64_t uid) const
    {
        return std::any_of(sources_.begin(), sources_.end(),
                           [&](const Source& source) { return source.uid == uid; });
    }

    const LevelSites& sites_;
    const QByteArray& bytes_;
    const LevelContext& context_;
    const AtlasMerge& merge_;
    const bool project_; // else a level file, which takes its tilesets from its project
    std::vector<TilesetFacts> facts_;      // the project's tilesets
    std::vector<const TilesetSite*> defs_; // where this file defines them (a project does)
    QString projectFolder_;
    std::vector<Source> sources_;
    QString atlasPath_;                                    // the atlas as the project names it
    std::vector<std::unique_ptr<Definition>> definitions_; // by source
    // What the merged definitions keep, gathered: custom data by atlas tile, the atlas tiles
    // each source has data for, enum tags by value (in the order met) and the enum they come
    // from, saved selections.
    std::map<int64_t, Entry> entries_;
    std::vector<std::set<int64_t>> carries_;
    std::vector<QString> tagOrder_;
    std::map<QString, std::vector<int64_t>> tags_;
    int64_t tagEnum_ = -1;
    const Source* tagSource_ = nullptr;
    QByteArrayList selections_;
    LevelBytesResult result_;
};

} // namespace

LevelBytesResult mergeLdtkSites(const LevelSites& sites, const QByteArray& bytes,
                                const LevelContext& context)
{
    return LdtkMerge(sites, bytes, context).run();
}
