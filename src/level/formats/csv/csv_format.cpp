#include "level/formats/csv/csv_format.h"

namespace {

class CsvEdits : public LevelEdits
{
  public:
    void removeEntries(const TilesetSite&, const std::vector<bool>&, const QByteArray&,
                       TextSplice&) const override
    {
    }
    QString name() const override { return QStringLiteral("CSV"); }
};

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
        return {{}, notATilesetFile(), {}, {}, {}};
    }

    // Every field between commas and blanks is a cell; empty fields are not fields at all.
    bool scan(const QByteArray& bytes, const LevelContext&, LevelSites& sites,
              Problem&) const override
    {
        static const CsvEdits edits;
        sites.edits = &edits;
        sites.bare = true;
        sites.bareText = {bytes.startsWith("\xef\xbb\xbf") ? 3 : 0, bytes.size()};
        sites.bareSeparators = ", \t\r\n";
        return true;
    }
};

}  // namespace

const LevelFormat& csvFormat()
{
    static const CsvFormat format;
    return format;
}
