#include "level/sheet_choice.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "document/file_identity.h"
#include "document/file_messages.h"

namespace {

QString imageIdentity(const TilesetFacts& tileset)
{
    return fileIdentity(QDir(tileset.folder).absoluteFilePath(tileset.image));
}

QString quotedList(const QStringList& names)
{
    QStringList quoted;
    for (const QString& name : names)
        quoted << quotedPath(name);
    return quoted.join(QStringLiteral(", "));
}

}  // namespace

bool isBareFileName(const QString& sheet)
{
    return !sheet.isEmpty() && QFileInfo(sheet).fileName() == sheet;
}

namespace {

// Marks the tilesets with an image that matches; how many files they show.
// files: each tileset's image file (imageIdentity), found once.
template <typename Matches>
qsizetype markWhere(const std::vector<TilesetFacts>& tilesets, const QStringList& files,
                    SheetChoice& choice, Matches&& matches)
{
    QStringList matched;
    for (size_t i = 0; i < tilesets.size(); ++i) {
        if (!tilesets[i].image.isEmpty() && matches(i)) {
            choice.isSheet[i] = true;
            if (!matched.contains(files[qsizetype(i)]))
                matched << files[qsizetype(i)];
        }
    }
    return matched.size();
}

// The one image of the sheet's file name, as a name alone names it.
SheetChoice chooseByName(const std::vector<TilesetFacts>& tilesets, const QStringList& files,
                         const QString& sheet, const QStringList& shown, SheetChoice choice)
{
    const QString name = QFileInfo(sheet).fileName();
    QStringList candidates;  // the images of that name as written, each file once
    QStringList candidateFiles;
    for (size_t i = 0; i < tilesets.size(); ++i)
        if (!tilesets[i].image.isEmpty() && QFileInfo(tilesets[i].image).fileName() == name &&
            !candidateFiles.contains(files[qsizetype(i)])) {
            candidateFiles << files[qsizetype(i)];
            candidates << tilesets[i].image;
        }
    const qsizetype byName = markWhere(tilesets, files, choice, [&](size_t i) {
        return QFileInfo(tilesets[i].image).fileName() == name;
    });
    if (byName == 1) {
        choice.verdict = SheetChoice::Verdict::Use;
    } else if (byName > 1) {
        choice.verdict = SheetChoice::Verdict::Refuse;
        choice.isSheet.assign(tilesets.size(), false);
        choice.reason = QStringLiteral("several of its tileset images are called %1 (%2); name "
                                       "the sheet by its path")
                            .arg(quotedPath(name), quotedList(candidates));
    } else {
        choice.reason = QStringLiteral("it does not use the sheet %1 (its tilesets show %2)")
                            .arg(quotedPath(sheet), quotedList(shown));
    }
    return choice;
}

}  // namespace

SheetChoice chooseSheet(const std::vector<TilesetFacts>& tilesets, const QString& sheet,
                        bool orByName)
{
    SheetChoice choice;
    choice.isSheet.assign(tilesets.size(), false);
    QStringList shown;       // the images as written, each once
    QStringList identities;  // the files they resolve to, each once
    QStringList files;       // each tileset's
    for (const TilesetFacts& tileset : tilesets) {
        files << (tileset.image.isEmpty() ? QString() : imageIdentity(tileset));
        if (tileset.image.isEmpty())
            continue;
        if (!shown.contains(tileset.image))
            shown << tileset.image;
        if (!identities.contains(files.back()))
            identities << files.back();
    }
    if (shown.isEmpty()) {
        choice.reason = QStringLiteral("none of its tilesets has an image");
        return choice;
    }
    if (sheet.isEmpty()) {
        if (identities.size() > 1) {
            choice.verdict = SheetChoice::Verdict::Refuse;
            choice.reason = QStringLiteral("its tilesets show several images (%1); name the sheet "
                                           "among them")
                                .arg(quotedList(shown));
            return choice;
        }
        markWhere(tilesets, files, choice, [](size_t) { return true; });
        choice.verdict = SheetChoice::Verdict::Use;
        return choice;
    }
    // A path names one file, whatever other images share its name; a name alone names the one
    // image of that name.
    if (!isBareFileName(sheet)) {
        const QString wanted = fileIdentity(sheet);
        if (markWhere(tilesets, files, choice, [&](size_t i) { return files[qsizetype(i)] == wanted; }) >
            0) {
            choice.verdict = SheetChoice::Verdict::Use;
            return choice;
        }
        if (!orByName) {
            choice.reason = QStringLiteral("it does not use the sheet %1 (its tilesets show %2)")
                                .arg(quotedPath(sheet), quotedList(shown));
            return choice;
        }
    }
    return chooseByName(tilesets, files, sheet, shown, choice);
}
