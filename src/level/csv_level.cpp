#include "level/csv_level.h"

#include "document/file_messages.h"
#include "level/text_splice.h"

#include <algorithm>

namespace {

bool isSeparator(char c)
{
    return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

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
