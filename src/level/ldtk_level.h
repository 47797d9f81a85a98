#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "level/level_sites.h"

// LDtk projects (.ldtk) and their level files (.ldtkl). A project defines its tilesets, with the
// image each shows (relPath), its tile size, padding and spacing; layers name tiles by number (t)
// and by their pixel place in the image (src), with X and Y flips (f); definitions name tiles by
// number (rules, custom data, enum tags, saved selections) and entities and fields show rectangles
// of a tileset in pixels. A remap rewrites all of that for the sheet's tilesets and nothing else.

// True for the file names of LDtk projects and level files.
bool isLdtkFile(const QString& path);

// The project of an LDtk file: a project is its own; a level file's is where LDtk keeps it, beside
// the level's folder and named after it (world.ldtk for world/Level_0.ldtkl).
QString ldtkProjectOf(const QString& path);

// Remaps a project's or level file's text. A level file takes its tileset definitions from its
// project, asked for through context.readTileset.
LevelBytesResult remapLdtkLevel(const QByteArray& bytes, const LevelContext& context);

// The tileset definitions of a project's text (each with its uid), for its level files; false,
// with problem, when the text is no LDtk project.
bool readLdtkTilesets(const QByteArray& bytes, const QString& folder,
                      std::vector<TilesetFacts>& tilesets, LevelProblem& problem);
