#include "level/formats/csv/csv_format.h"

#include "document/file_messages.h"
#include "level/text_splice.h"

#include <algorithm>

namespace
{

bool isSeparator(char c)
{
    return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

namespace
{

LevelBytesResult remapCsvLevel(const QByteArray& bytes, const TileRemap& remap, int firstId,
                               std::vector<uint8_t>* named)
{
    LevelBytesResult result;
    if (remap.keepsIds) {
        result.status = LevelFileStatus::Skipped;
        result.reason = QStringLiteral("it holds only tile numbers, and they stay");
        return result;
    }
    StretchWriter numbers(bytes);
    const qsizetype size = bytes.size();
    const int64_t count = remap.tileCount();
    qsizetype i = bytes.startsWith("\xef\xbb\xbf") ? 3 : 0;
    while (i < size) {
        if (isSeparator(bytes[i])) {
            ++i;
            continue;
        }
        const qsizetype begin = i;
        while (i < size && !isSeparator(bytes[i]))
            ++i;
        const QByteArrayView field = QByteArrayView(bytes).sliced(begin, i - begin);
        int64_t number = 0;
        if (!parseWholeNumber(field, true, number)) {
            result.place = linePlace(bytes, begin);
            result.reason = QStringLiteral("%1 is not a tile number")
                                .arg(quotedPath(QString::fromUtf8(
                                    field.first(std::min<qsizetype>(field.size(), 40)))));
            return result;
        }
        if (number < firstId)
            continue;
        if (number - firstId >= count) {
            result.place = linePlace(bytes, begin);
            result.reason = QStringLiteral("the tile number %1 lies beyond the sheet's %2 tiles "
                                           "(numbers %3 to %4)")
                                .arg(number)
                                .arg(count)
                                .arg(firstId)
                                .arg(firstId + count - 1);
            return result;
        }
        const size_t tile = size_t(number - firstId);
        if (named)
            (*named)[tile] = 1;
        if (remap.newIndexOf[tile] < 0 || !remap.symmetry(tile).isIdentity()) {
            result.place = linePlace(bytes, begin);
            result.reason = remap.newIndexOf[tile] < 0
                                ? QStringLiteral("tile %1 is dropped").arg(number)
                                : QStringLiteral("tile %1 becomes tile %2 turned, and CSV cells "
                                                 "hold no flips")
                                      .arg(number)
                                      .arg(firstId + remap.newIndexOf[tile]);
            return result;
        }
        const int64_t now = firstId + remap.newIndexOf[tile];
        if (now != number) {
            numbers.replaceNumber({begin, i}, now);
            ++result.cellsChanged;
        }
    }
    result.status = LevelFileStatus::Updated;
    TextSplice splice;
    numbers.finish(splice);
    result.bytes = splice.isEmpty() ? bytes : splice.apply(bytes);
    return result;
}

class CsvFormat : public LevelFormat
{
  public:
    QString names() const override { return QStringLiteral("CSV"); }
    QStringList patterns() const override { return {QStringLiteral("*.csv")}; }
    bool claimsName(const QString& suffix) const override
    {
        return LevelFormat::claimsName(suffix) || suffix.compare(u"txt", Qt::CaseInsensitive) == 0;
    }
    bool claimsContent(char first) const override
    {
        return first == 0 || (first >= '0' && first <= '9') || first == '-' || first == ',';
    }

    ExternalTileset readTilesets(const QByteArray&, const QString&) const override
    {
        return {{}, notATilesetFile(), {}, {}};
    }
    bool scan(const QByteArray&, const LevelContext&, LevelSites&, Problem&) const override
    {
        return true; // no tilesets
    }
    LevelBytesResult remap(const QByteArray& bytes, const LevelContext& context) const override
    {
        const LevelRemapOptions& options = context.options;
        if (options.firstId != 0 && options.firstId != 1) {
            LevelBytesResult result;
            result.reason =
                QStringLiteral("the first tile number must be 0 or 1, not %1").arg(options.firstId);
            return result;
        }
        LevelBytesResult csv = remapCsvLevel(bytes, context.remap, options.firstId,
                                             options.use ? &options.use->named : nullptr);
        csv.sheetImage = options.sheet;
        return csv;
    }
};

} // namespace

const LevelFormat& csvFormat()
{
    static const CsvFormat format;
    return format;
}
