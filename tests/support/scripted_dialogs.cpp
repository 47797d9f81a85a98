#include "support/scripted_dialogs.h"

#include <gtest/gtest.h>

namespace {
template <typename T>
T take(std::deque<T>& queue, const QString& what, T fallback)
{
    if (queue.empty()) {
        ADD_FAILURE() << "unexpected dialog: " << what.toStdString();
        return fallback;
    }
    T answer = queue.front();
    queue.pop_front();
    return answer;
}
}  // namespace

FileChoice ScriptedDialogs::chooseOpenFile(const QString& title, const QString& filter,
                                          const QString& folder)
{
    folders << folder;
    asked << QStringLiteral("open: %1 | %2").arg(title, filter);
    return take(openAnswers, asked.last(), FileChoice{});
}

FileChoice ScriptedDialogs::chooseSaveFile(const QString& title, const QString& filter,
                                          const QString& folder)
{
    folders << folder;
    asked << QStringLiteral("save: %1 | %2").arg(title, filter);
    return take(saveAnswers, asked.last(), FileChoice{});
}

std::optional<QRgb> ScriptedDialogs::chooseColor(QRgb initial)
{
    asked << QStringLiteral("color");
    colorInitials.push_back(initial);
    return take(colorAnswers, asked.last(), std::optional<QRgb>{});
}

bool ScriptedDialogs::askYesNo(const QString& text)
{
    asked << QStringLiteral("yesno: %1").arg(text);
    return take(yesNoAnswers, asked.last(), false);
}

GridAnswer ScriptedDialogs::askGridLayout()
{
    asked << QStringLiteral("grid");
    if (duringGridQuestion)
        duringGridQuestion();
    return take(gridAnswers, asked.last(), GridAnswer::Closed);
}

std::optional<TileSizeAnswer> ScriptedDialogs::askTileSize(TileShape current)
{
    asked << QStringLiteral("tile size: %1").arg(shapeText(current));
    return take(tileSizeAnswers, asked.last(), std::optional<TileSizeAnswer>());
}

UnsavedAnswer ScriptedDialogs::askUnsaved(const QString& text)
{
    asked << QStringLiteral("unsaved: %1").arg(text);
    return take(unsavedAnswers, asked.last(), UnsavedAnswer::Cancel);
}

OutdatedSheetAnswer ScriptedDialogs::askOutdatedSheet(const QString& text)
{
    asked << QStringLiteral("outdated sheet: %1").arg(text);
    return take(outdatedSheetAnswers, asked.last(), OutdatedSheetAnswer::Cancel);
}

void ScriptedDialogs::showAbout(const QString& text)
{
    asked << QStringLiteral("about");
    abouts << text;
}

QStringList ScriptedDialogs::chooseOpenFiles(const QString& title, const QString& filter,
                                             const QString& folder)
{
    folders << folder;
    asked << QStringLiteral("open files: %1 | %2").arg(title, filter);
    return take(openFilesAnswers, asked.last(), QStringList());
}

void ScriptedDialogs::showInfo(const QString& text)
{
    asked << QStringLiteral("info");
    infos << text;
}

void ScriptedDialogs::showError(const QString& text)
{
    asked << QStringLiteral("error");
    errors << text;
}

bool ScriptedDialogs::allAnswered() const
{
    return openAnswers.empty() && saveAnswers.empty() && openFilesAnswers.empty() &&
           colorAnswers.empty() &&
           yesNoAnswers.empty() && gridAnswers.empty() && unsavedAnswers.empty() &&
           outdatedSheetAnswers.empty() && tileSizeAnswers.empty();
}
