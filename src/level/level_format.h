#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <memory>
#include <unordered_map>
#include <vector>

#include "level/level_sites.h"

// One kind of level file. A format finds, in a file's text, every place that names one of the
// sheet's tiles (LevelSites) and says how its own text is written (LevelEdits); what the numbers
// become is decided by the shared remap, the same way for every format. The rest of the program
// asks the registry below and never which format a file is.
class LevelFormat
{
  public:
    virtual ~LevelFormat() = default;

    // The kinds of file it reads, for messages ("TMX, TSX, TX").
    virtual QString names() const = 0;
    // Its files of tilesets alone, for messages ("TSX"); empty when it has none.
    virtual QString tilesetNames() const { return {}; }
    // File name patterns, for the window's filter and the shells' completions ("*.abc").
    virtual QStringList patterns() const = 0;
    // Whether a file of this name is this format's (by its suffix, lower case).
    virtual bool claimsName(const QString& suffix) const;
    // Whether a file that no format claims by its name is this one's, by its first byte that is
    // not blank (0 for a file of blanks only).
    virtual bool claimsContent(char first) const;

    // The tilesets the file defines itself (a tileset file's one, a project's every one), for the
    // files that name them; error says why it defines none.
    virtual ExternalTileset readTilesets(const QByteArray& bytes, const QString& path) const;
    // Finds the sites; false with problem when the text cannot be read.
    virtual bool scan(const QByteArray& bytes, const LevelContext& context, LevelSites& sites,
                      Problem& problem) const = 0;
    // The tilesets a level shows, those of other files read through context.readTileset.
    virtual std::vector<TilesetFacts> shownTilesets(const QByteArray& bytes,
                                                    const LevelContext& context) const;
    // The file's text rewritten for context.remap: its sites found and remapped.
    virtual LevelBytesResult remap(const QByteArray& bytes, const LevelContext& context) const;

  protected:
    // What remap() makes of the sites it found: the shared remap, unless the format has more to do.
    virtual LevelBytesResult remapScanned(const LevelSites& sites, const QByteArray& bytes,
                                          const LevelContext& context) const;
};

// Scans of level files kept for later runs over the same files, as LevelRemapOptions::scans: a
// merge reads every level once for each of its sheets. A file whose text changed is scanned
// anew. For one thread at a time.
class LevelScans
{
  public:
    // The sites format finds in bytes, read at context's path; null with problem when the text
    // cannot be read.
    const LevelSites* sites(const LevelFormat& format, const QByteArray& bytes,
                            const LevelContext& context, Problem& problem);

  private:
    struct Scan {
        const LevelFormat* format;
        QString where; // path and carrier
        QByteArray bytes;
        LevelSites sites;
    };
    std::unordered_multimap<size_t, std::unique_ptr<Scan>> scans_;  // by the text's hash
};

// The formats Tilegrid reads, in the order they are asked.
const std::vector<const LevelFormat*>& levelFormats();
// The format of a file: by its name, else by its first bytes; null when no format claims it.
const LevelFormat* levelFormatOf(const QString& path, QByteArrayView bytes);
// "TMX, TSX, TX, TMJ, …": every format's names.
QString levelFormatNames();
QStringList levelFilePatterns();
// Why a file that defines no tileset cannot be one: "it is not a TSX or TSJ tileset".
QString notATilesetFile();

// While it lives, a format of the tests' own is one of the registered formats (last).
class ExtraLevelFormat
{
  public:
    explicit ExtraLevelFormat(const LevelFormat& format);
    ~ExtraLevelFormat();
    ExtraLevelFormat(const ExtraLevelFormat&) = delete;
    ExtraLevelFormat& operator=(const ExtraLevelFormat&) = delete;
};
