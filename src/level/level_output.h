#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Where the result for a file goes: the path to write, or no path when the file has no place to
// go (it then fails and is left as it was, and so is a map whose tileset it is), and then why in
// plain words ("--out-dir would write it over itself; …"); without a reason it has "no place to
// be written".
struct LevelOutput {
    QString path;
    QString refused;
};

// Given the absolute path of a file read, where its result goes.
using LevelOutputPath = std::function<LevelOutput(const QString& path)>;

LevelOutputPath levelOutputInPlace();
// Each file into folder under its own file name.
LevelOutputPath levelOutputIntoFolder(const QString& folder);
// Each file into folder at its path below the deepest folder that holds all of files (the run's,
// levelRunFiles), so that the files still find each other by the relative paths inside them.
LevelOutputPath levelOutputIntoTree(const QString& folder, const QStringList& files);
