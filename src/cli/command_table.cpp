#include "cli/command_table.h"

#include <array>

#include "cli/level_jobs.h"
#include "cli/sheet_jobs.h"

namespace
{

constexpr OptionSet kSheetOutput{Option::Output, Option::OutDir, Option::InPlace,
                                 Option::Compression};

const std::array kCommands{
    CommandSpec{
        "grid", "add",
        "IN... [--tile N|WxH] [--gutter G] [--color COLOR] [--crop] [--force] OUTPUT",
        "insert a grid line after every whole tile",
        "Inserts a line of G pixels (default 1) in COLOR after every whole tile column and\n"
        "row. With --tile 8 or 16 and a gutter of 1 the pixels are exactly those of the\n"
        "window's Add Grid.\n"
        "\n"
        "A sheet that is not whole tiles fails, naming the partial strips at the right and\n"
        "bottom it would lose; --crop drops them, as the window does. A sheet that already has\n"
        "a grid at pitch N + G is skipped and left as it was (so an interrupted --in-place run\n"
        "can simply be run again); --force adds a second grid.\n"
        "\n"
        "Examples:\n"
        "  tilegrid grid add sheet.png -o sheet-grid.png\n"
        "  tilegrid grid add --tile 8 --color black --in-place sheet.bmp\n"
        "  tilegrid grid add --tile 32 --gutter 2 --color '#202020' --out-dir packed art/*.png\n",
        kSheetOutput.with(
            {Option::Tile, Option::Gutter, Option::Color, Option::Crop, Option::Force}),
        InputCount::OneOrMore, OutputKind::Sheets, addGridJob},
    CommandSpec{
        "grid", "remove", "IN... [--tile N|WxH] [--gutter G] [--crop] [--force] OUTPUT",
        "strip the grid lines that follow every tile",
        "Keeps the N × N pixels of every whole tile and drops the G pixels of grid (default 1)\n"
        "after each: tiles are taken to start every N + G pixels. With --tile 8 or 16 and a\n"
        "gutter of 1 the pixels are exactly those of the window's Remove Grid.\n"
        "\n"
        "A sheet without such a grid (lines of one colour after every whole tile, as info\n"
        "shows) fails, with the grid found at another pitch if there is one; --force removes\n"
        "the lines at pitch N + G all the same. A sheet that is not whole tiles and their grid\n"
        "fails, naming the partial strips it would lose; --crop drops them.\n"
        "\n"
        "Examples:\n"
        "  tilegrid grid remove sheet-grid.png -o sheet.png\n"
        "  tilegrid grid remove --tile 24 --gutter 2 --out-dir plain packed/*.png\n",
        kSheetOutput.with({Option::Tile, Option::Gutter, Option::Crop, Option::Force}),
        InputCount::OneOrMore, OutputKind::Sheets, removeGridJob},
    CommandSpec{
        "grid", "extrude",
        "IN... [--tile N|WxH] [--px E] [--margin M] [--spacing S] [--crop] OUTPUT",
        "surround every tile with copies of its own edge pixels",
        "Every whole tile gets E pixels (default 1) on each side copied from its own edge row\n"
        "or column, and E × E pixels at each corner from its corner pixel, so that a game\n"
        "drawing tiles with filtering, scaling or at fractional positions shows no seams from\n"
        "the neighbouring tiles. --margin and --spacing describe a sheet that has them: tiles\n"
        "start M pixels in from each edge, S pixels apart. The result keeps that margin and\n"
        "spacing around the grown tiles (filled with transparent white, or opaque white on an\n"
        "opaque sheet), so its tiles start M + E pixels in and lie S + 2E apart: give those to\n"
        "the levels with \"tilegrid levels remap --margin M+E --spacing S+2E\".\n"
        "\n"
        "A sheet that is not whole tiles fails, naming the partial strips at the right and\n"
        "bottom it would lose; --crop drops them. Every pixel keeps its alpha exactly.\n"
        "\n"
        "Examples:\n"
        "  tilegrid grid extrude sheet.png -o sheet-extruded.png\n"
        "  tilegrid grid extrude --tile 32 --px 2 --margin 1 --spacing 2 --out-dir game \\\n"
        "      art/*.png\n",
        kSheetOutput.with(
            {Option::Tile, Option::Px, Option::Margin, Option::Spacing, Option::Crop}),
        InputCount::OneOrMore, OutputKind::Sheets, extrudeJob},
    CommandSpec{
        "grid", "unextrude",
        "IN... [--tile N|WxH] [--px E] [--margin M] [--spacing S] [--crop] [--force] OUTPUT",
        "take the extruded edges off every tile again",
        "Gives back the sheet that grid extrude was given with the same --tile, --px, --margin\n"
        "and --spacing: IN's tiles start M + E pixels in and lie S + 2E apart, and each loses\n"
        "its E pixels of extrusion. A sheet without margin and spacing comes back exactly;\n"
        "margin and spacing come back filled as extrude fills them. A sheet that is not whole\n"
        "extruded tiles fails, naming the partial strips it would lose; --crop drops them. A\n"
        "sheet whose tiles are not surrounded by copies of their edges fails, naming the first\n"
        "such tile; --force takes the edges off all the same.\n"
        "\n"
        "Examples:\n"
        "  tilegrid grid unextrude sheet-extruded.png -o sheet.png\n"
        "  tilegrid grid unextrude --tile 32 --px 2 --in-place game/*.png\n",
        kSheetOutput.with({Option::Tile, Option::Px, Option::Margin, Option::Spacing, Option::Crop,
                           Option::Force}),
        InputCount::OneOrMore, OutputKind::Sheets, unextrudeJob},
    CommandSpec{
        "map", "restore", "IN... --map M [--tile N|WxH] [--gutter G] OUTPUT",
        "put every tile back at its original place, as a map file says",
        "IN is arranged as the map file M says: M holds, for each whole tile position row by\n"
        "row, the original number of the tile standing there (the window's Map \"Save As..\"\n"
        "writes it). Every tile goes back to its original place, as Reset Map does in the\n"
        "window after Map \"Open..\". Partial strips at the right and bottom stay. For a sheet\n"
        "with a grid give --gutter: the grid lines travel with their tiles.\n"
        "\n"
        "Examples:\n"
        "  tilegrid map restore edited.png --map edited.zeko-map -o original.png\n"
        "  tilegrid map restore --tile 8 --gutter 1 edited-grid.png --map edited.zeko-map \\\n"
        "      -o original-grid.png\n",
        kSheetOutput.with({Option::Map, Option::Tile, Option::Gutter}), InputCount::OneOrMore,
        OutputKind::Sheets, restoreMapJob, checkMapGiven},
    CommandSpec{
        "map", "apply", "IN... --map M [--tile N|WxH] [--gutter G] OUTPUT",
        "arrange a sheet in its original order as a map file says",
        "The other way round from map restore: IN holds its tiles in their original order, and\n"
        "each position of the result takes the original tile that M names for it. Applying a\n"
        "map and restoring with the same map give back the sheet.\n"
        "\n"
        "Examples:\n"
        "  tilegrid map apply original.png --map edited.zeko-map -o edited.png\n"
        "  tilegrid map apply --map edited.zeko-map --out-dir edited night.png day.png\n",
        kSheetOutput.with({Option::Map, Option::Tile, Option::Gutter}), InputCount::OneOrMore,
        OutputKind::Sheets, applyMapJob, checkMapGiven},
    CommandSpec{
        "map", "move",
        "IN --block C,R,W,H --to C,R [--tile N|WxH] [--gutter G] [--map M] OUTPUT [--map-out MAP]",
        "move blocks of whole tiles, as a drag of a selection in the window does",
        "Moves the block of W x H whole tiles whose top-left tile is at column C, row R (both\n"
        "counted from 0) so that its top-left tile lands on the --to tile. The tiles the block\n"
        "lands on that lie outside it fill the places it left, both taken row by row: a block\n"
        "dropped on tiles of its own size elsewhere swaps with them, and a block moved one\n"
        "column right trades places with that column. --block and --to pairs may repeat and\n"
        "are done in order. A block or target outside the whole tiles is refused, naming it,\n"
        "and nothing is written. For a sheet with a grid give --gutter: the grid lines travel\n"
        "with their tiles.\n"
        "\n"
        "With --map M, IN is arranged as M says, and the map written to --map-out is M\n"
        "followed by the moves, so it still says where every tile originally came from (map\n"
        "restore with it gives back the original). Without --map, IN is taken to be in its\n"
        "original order.\n"
        "\n"
        "Examples:\n"
        "  tilegrid map move sheet.png --block 0,0,2,3 --to 4,0 -o moved.png \\\n"
        "      --map-out moved.zeko-map\n"
        "  tilegrid map move --tile 32 edited.png --map edited.zeko-map --block 1,1,4,4 --to 6,1 "
        "\\\n"
        "      --block 0,0,1,1 --to 9,0 --in-place --map-out edited.zeko-map\n",
        kSheetOutput.with(
            {Option::Block, Option::To, Option::Map, Option::MapOut, Option::Tile, Option::Gutter}),
        InputCount::OneOrMore, OutputKind::Sheets, moveBlocksJob, checkBlockMoves},
    CommandSpec{
        "map", "derive", "ORIGINAL REARRANGED -o M [--tile N|WxH] [--gutter G]",
        "find the map that turns one sheet into another",
        "Finds, by matching tile pixels, the map that turns ORIGINAL into REARRANGED, and\n"
        "writes it to M. Both must hold the same number of whole tile columns and rows; grid\n"
        "lines and partial strips are not compared. Among tiles with the same pixels the first\n"
        "one not yet taken, in reading order, is used. Refused, naming the position, when a\n"
        "tile of REARRANGED is not in ORIGINAL. Afterwards\n"
        "\"tilegrid map restore REARRANGED --map M\" gives ORIGINAL and\n"
        "\"tilegrid map apply ORIGINAL --map M\" gives REARRANGED.\n"
        "\n"
        "Examples:\n"
        "  tilegrid map derive original.png edited-elsewhere.png -o edited.zeko-map\n"
        "  tilegrid map derive --tile 8 --gutter 1 a-grid.png b-grid.png -o b.zeko-map\n",
        OptionSet{Option::Output, Option::Tile, Option::Gutter}, InputCount::Two,
        OutputKind::MapFile, deriveMapJob},
    CommandSpec{
        "sheet", "dedupe",
        "IN [--tile N|WxH] [--gutter G] [--flips] [--columns C] [--crop] [--used-by LEVEL...] "
        "OUTPUT --remap-out R",
        "merge identical tiles and write the remap that keeps levels valid",
        "Keeps the first tile, in reading order, of every group of identical whole tiles (all\n"
        "four channels compared; grid lines are not) and packs the kept tiles in reading order\n"
        "into C tile columns (default: IN's), as many rows as they need; the rest of the last\n"
        "row is transparent (black for a sheet without alpha). With --flips a tile that is a\n"
        "kept tile mirrored or turned (any of the 8 symmetries of a square; only the mirrors\n"
        "for tiles that are not square) joins it too. For a sheet with a grid give --gutter:\n"
        "the lines travel with their tiles. A sheet that is not whole tiles fails, naming the\n"
        "partial strips; --crop drops them.\n"
        "\n"
        "Padding is no tile: it is left out and not counted. Without levels it is the fully\n"
        "transparent tiles that end the last row of a sheet with alpha, fewer than a row (what\n"
        "a packing leaves). With --used-by the levels are read as sheet prune reads them\n"
        "(--sheet, --first-id and --tile-property too): their tilesets give the tile size\n"
        "unless --tile does, padding is every tile past their tile count, tiles whose data\n"
        "differ in their tilesets (properties, animations, collision shapes, Wang and terrain\n"
        "ids, LDtk's custom data and enum tags, Godot's tile definitions) are not duplicates,\n"
        "and a tile with collision shapes, Wang or terrain ids or an animation, an animation\n"
        "frame, a tile that an LDtk definition names and a Godot tile with more than its plain\n"
        "definition merge only unturned. The tiles of a rectangle that a level draws as one (an\n"
        "LDtk entity's or field's tile of several tiles, a stamp rule) merge with no other tile\n"
        "and keep their places against each other: the rectangle goes whole at the first place\n"
        "it fits, and other tiles fill the places before it, dropped ones where too few are\n"
        "kept (sheet prune and sheet merge pack so too). A merge they still cannot follow is\n"
        "refused, naming the place, before anything is written.\n"
        "\n"
        "The remap file R (see README, \"Remap files\") says where every tile went and how it\n"
        "is turned; levels remap --remap R carries it into the levels. It prints what it did:\n"
        "\"sheet.png -> small.png: 936 tiles → 258 (678 duplicates merged)\".\n"
        "\n"
        "Examples:\n"
        "  tilegrid sheet dedupe beach.png -o beach-small.png --remap-out beach.remap\n"
        "  tilegrid sheet dedupe --tile 32 --flips --columns 8 --in-place art.png \\\n"
        "      --remap-out art.remap\n",
        kSheetOutput.with({Option::Tile, Option::Gutter, Option::Flips, Option::Columns,
                           Option::Crop, Option::RemapOut, Option::UsedBy, Option::Sheet,
                           Option::FirstId, Option::TileProperty}),
        InputCount::OneOrMore, OutputKind::Sheets, dedupeJob, checkDedupe},
    CommandSpec{
        "sheet", "merge",
        "SHEET... [--tile N|WxH] [--gutter G] [--used-by LEVEL...] [--dedupe [--flips]] "
        "[--columns C] [--crop] -o ATLAS --remap-out R",
        "pack the tiles of many sheets into one atlas and write the remap of each",
        "Packs the whole tiles of every SHEET, in the order given and in reading order within\n"
        "each, into one atlas of C tile columns (default: the widest sheet's), as many rows as\n"
        "they need; the rest of the last row is transparent (black when no sheet has alpha).\n"
        "Every sheet is cut at --tile (default 16), with --gutter for sheets that have a grid.\n"
        "With --dedupe identical tiles, within a sheet and across sheets, become one: the first\n"
        "in that order; --flips lets a tile mirrored or turned join too (only mirrored, for\n"
        "tiles that are not square). A sheet that is not whole tiles fails, naming the partial\n"
        "strips; --crop drops them.\n"
        "\n"
        "With --used-by only the tiles that the levels show are kept, counted as sheet prune\n"
        "counts them, and the tile shape is the levels' (unless --tile says it; sheets they cut\n"
        "at different shapes are refused). --dedupe then keeps apart tiles whose data differ in\n"
        "the levels' tilesets (properties, animations, collision shapes, Wang and terrain ids),\n"
        "and turns no tile with collision shapes, Wang or terrain ids or an animation, nor an\n"
        "animation frame, so that the levels can always follow the remap.\n"
        "\n"
        "The remap file R (see README, \"Remap files\") names the atlas and each sheet, and says\n"
        "where each of a sheet's tiles went and how it is turned. It prints what it did:\n"
        "\"3 sheets, 1792 tiles → atlas.png: 612 tiles (1102 unused dropped, 78 duplicates\n"
        "merged)\" (without --used-by, only the duplicates). levels remap\n"
        "--remap R then gives the maps one tileset of the atlas in place of the merged ones.\n"
        "\n"
        "Examples:\n"
        "  tilegrid sheet merge ground.png trees.png -o atlas.png --remap-out atlas.remap\n"
        "  tilegrid sheet merge --tile 32 --dedupe --flips --columns 16 a.png b.png c.png \\\n"
        "      -o atlas.png --remap-out atlas.remap\n"
        "  tilegrid sheet merge ground.png trees.png --used-by maps/*.tmx --dedupe \\\n"
        "      -o atlas.png --remap-out atlas.remap\n",
        OptionSet{Option::Output, Option::Tile, Option::Gutter, Option::Dedupe, Option::Flips,
                  Option::Columns, Option::Crop, Option::RemapOut, Option::Compression,
                  Option::UsedBy, Option::FirstId, Option::TileProperty},
        InputCount::AllInOne, OutputKind::Sheets, mergeSheetsJob, checkMerge},
    CommandSpec{
        "sheet", "prune",
        "IN --used-by LEVEL... [--tile N|WxH] [--gutter G] [--dedupe [--flips]] [--columns C] "
        "[--sheet SHEET] [--first-id 0|1] [--tile-property NAME] [--crop] OUTPUT --remap-out R",
        "drop the tiles no level uses and write the remap that keeps levels valid",
        "Keeps the whole tiles of IN that the levels use and packs them in reading order into\n"
        "C tile columns (default: IN's), as sheet dedupe packs them; the rest of the last row\n"
        "is transparent (black for a sheet without alpha). A tile is used when a cell of a tile\n"
        "layer shows it (in every encoding, infinite maps' chunks and layer groups included,\n"
        "and CSV cells), a tile object or an object template shows it, or it is an animation\n"
        "frame of a used tile; in LDtk, when a layer's grid or auto-layer tiles, an auto-layer\n"
        "rule or a tile rectangle (of an entity, entity definition or field) shows it; in Godot,\n"
        "when a cell of a layer or pattern, a tile proxy or an animation frame shows it. Custom\n"
        "data, enum tags and saved selections do not make a tile used. The levels are the\n"
        "arguments after --used-by up to the next option (--used-by may come again); they are\n"
        "TMX, TMJ or CSV maps, TSX or TSJ tilesets, TX or TJ templates, LDtk projects (.ldtk),\n"
        "LDtk level files (.ldtkl) and Godot scenes and resources, and their tileset, template and level files are\n"
        "followed.\n"
        "The sheet's tileset in each level is found as levels remap finds it: the tileset\n"
        "whose image is IN, by its path and then by its file name, or the image --sheet names.\n"
        "--first-id is the number of the sheet's first tile in CSV levels. --tile-property\n"
        "names tile properties whose values are tile ids (see levels remap): the tile such a\n"
        "value of a used tile names is used too. Without --tile the tile size is that of the\n"
        "sheet's tilesets in the levels. Tiles past their tile count (the empty end of an\n"
        "earlier packing's last row) are padding: left out and not counted. With --dedupe the\n"
        "used tiles are deduped as sheet dedupe --used-by dedupes them (--flips too).\n"
        "\n"
        "A level that cannot be read fails the command, and nothing is written; so does a run\n"
        "in which no level shows the sheet. A level that does not show it is named and passed\n"
        "over. For a sheet with a grid give --gutter: the lines travel with their tiles. A\n"
        "sheet that is not whole tiles fails, naming the partial strips; --crop drops them.\n"
        "\n"
        "The remap file R (see README, \"Remap files\") says where every kept tile went and\n"
        "which were dropped; levels remap --remap R then carries it into the levels, per-tile\n"
        "data included. It prints what it did:\n"
        "\"sheet.png -> small.png: 936 tiles → 412 (524 unused dropped)\".\n"
        "\n"
        "Examples:\n"
        "  tilegrid sheet prune beach.png --used-by levels/*.tmx -o beach-small.png \\\n"
        "      --remap-out beach.remap\n"
        "  tilegrid levels remap --remap beach.remap levels/*.tmx --in-place\n"
        "  tilegrid levels remap --remap atlas.remap --tileset-out tilesets/atlas.tsx \\\n"
        "      maps/*.tmx --in-place\n"
        "  tilegrid sheet prune --tile 32 --in-place art.png --used-by world.tmj town.csv \\\n"
        "      --first-id 1 --remap-out art.remap\n"
        "  tilegrid sheet prune tiles.png --used-by game.ldtk -o small.png --remap-out t.remap\n",
        kSheetOutput.with({Option::UsedBy, Option::Tile, Option::Gutter, Option::Columns,
                           Option::Sheet, Option::FirstId, Option::Crop, Option::RemapOut,
                           Option::TileProperty, Option::Dedupe, Option::Flips}),
        InputCount::OneOrMore, OutputKind::Sheets, pruneJob, checkPrune},
    CommandSpec{
        "levels", "remap",
        "[--map M | --remap R] [--margin M] [--spacing S] [--sheet SHEET] [--grid added|removed] "
        "[--first-id 0|1] [--tile-property NAME] [--tileset-out FILE] LEVEL... OUTPUT",
        "carry a rearrangement, packing or extrusion of the sheet into the levels made against it",
        "Renumbers the tiles that levels made against the sheet name, so that every cell shows\n"
        "the same picture with the sheet arranged as the map file M says (the window's Map\n"
        "\"Save As..\" writes it; map derive finds one). Levels are TMX maps, TSX tilesets and\n"
        "TX object templates, their JSON forms TMJ, TSJ and TJ, CSV files of tile numbers, and\n"
        "LDtk projects (.ldtk) and level files (.ldtkl). Only the numbers that name the sheet's\n"
        "tiles change; every other byte stays. A map's tileset and template files that show the\n"
        "sheet are remapped with it, once however many maps name them, and written with it all\n"
        "or nothing; so are an LDtk project's level files. A level file named alone takes its\n"
        "tilesets from its project, which LDtk keeps beside the level's folder.\n"
        "\n"
        "Godot 4 scenes (.tscn) and resources (.tres): the TileSet's atlas source whose texture\n"
        "is the sheet (res:// paths start at the folder holding project.godot) moves each tile's\n"
        "definitions (X:Y/..., its alternatives and all their data) with the tile and sets its\n"
        "margins and separation; TileMapLayer cells (tile_map_data), the older TileMap's layers,\n"
        "TileMapPatterns and tile proxies that name the sheet's source change, flips in the\n"
        "alternative's transform bits taking a remap's turn. A TileSet file a scene names goes\n"
        "with it. A tile of several cells (its size in the atlas, its animation frames) moves\n"
        "only as a whole block. A tile turns only when its data are alternatives that flip it,\n"
        "whose cells then take the turn after their own flips; any other turn is refused.\n"
        "Another source of the texture whose margins start it at one of the sheet's tiles shows a\n"
        "region of the sheet and follows it; cells of an instanced scene's layer, whose TileSet\n"
        "stands in that scene, are refused.\n"
        "\n"
        "In LDtk files each tile's number and its place in the image (src) change together, its\n"
        "X and Y flips take a remap's turn, and so do the tiles that definitions name (rules,\n"
        "custom data, enum tags, saved selections, the per-tile caches) and the tile rectangles\n"
        "of entities and fields: one of several tiles moves only when its tiles moved together\n"
        "as one block, and is refused, naming the entity, otherwise. A turn LDtk cannot flip to\n"
        "(a quarter turn, a diagonal mirror) is refused with its place.\n"
        "\n"
        "--remap R follows a remap file that sheet dedupe or sheet prune wrote instead of a\n"
        "map: each cell takes its tile's new number, and its flip bits the tile's turn after\n"
        "the cell's own, so it shows the same picture; the sheet tileset's tile count, columns\n"
        "and image size become the packed sheet's. Per-tile data (a <tile> entry with its\n"
        "properties, animation and collision shapes, a Wang tile) moves with its tile, and a\n"
        "dropped tile's entries leave the file; a Wang set's, colour's or terrain's picture\n"
        "that was a dropped tile becomes none (-1). Tiles that merge keep one entry when their\n"
        "data are the same apart from the id. Refused, naming the place, and the file left as\n"
        "it was: a CSV cell whose tile became a turned tile (CSV holds no flips), a cell of a\n"
        "dropped tile, two tiles that merge with different data (data against none counts as\n"
        "different; the message names what differs), data of a turned tile that no unturned\n"
        "tile merged with it carries too (its collision shapes would need turning), and an\n"
        "animation frame that shows a dropped or turned tile.\n"
        "\n"
        "A remap file that sheet merge wrote names several sheets and their atlas. In each TMX\n"
        "or TMJ map, the tilesets that show merged sheets become one tileset of the atlas, at the\n"
        "first gid of the first of them, and every cell and tile object keeps its picture and\n"
        "flips. The atlas's tileset gathers their per-tile data (<tile> entries with their\n"
        "properties, animations and collision shapes, renumbered; Wang sets) and is embedded\n"
        "where they were embedded; where they were files of their own it is written once, as\n"
        "--tileset-out FILE (required then; a TSX or TSJ file as the merged ones are), from\n"
        "the tileset files of all the merged sheets, whichever each map names; the maps and\n"
        "their templates name it, and the old files stay as they are. The map's other tilesets keep their first gids unless the atlas's overlap them;\n"
        "then they move after the others, with their cells. Refused, the map left as it was:\n"
        "tiles of two sheets that become one atlas tile with different data (or data against\n"
        "none), two Wang sets of one name, merged tilesets written as both TSX and TSJ, one of\n"
        "an older Tiled that keys its tiles by id, merged tilesets some embedded and some\n"
        "files, and a CSV level unless --sheet names the one merged sheet it shows. Tileset\n"
        "files given themselves are skipped. In an LDtk project the tileset definitions of the\n"
        "merged sheets become the first of them, which shows the atlas (named after it) and\n"
        "gathers their custom data, enum tags and saved selections; its level files follow, and\n"
        "every tile, rule, entity and field that named one of them names the atlas's. In Godot\n"
        "files the atlas sources of the merged sheets in each TileSet become the one of the\n"
        "smallest id, which shows the atlas and takes the others' definitions; the others leave.\n"
        "\n"
        "--tile-property NAME (may repeat; * matches any text: --tile-property\n"
        "'animation-frame*') names the properties of the sheet tileset's tiles in TMX, TSX,\n"
        "TMJ and TSJ files whose values are tile ids of that tileset. They count as animation\n"
        "frames do: renumbered with their tiles, and refused, naming the place, when the tile\n"
        "they name is dropped or becomes a turned tile. LDtk has no named tile properties.\n"
        "\n"
        "--sheet names the sheet's tileset image when a level shows several: by its path (that\n"
        "file only), or by its file name alone when the levels show one image of that name\n"
        "(several are refused, named). Without it, the sheet a remap file names (sheet dedupe\n"
        "and sheet prune name theirs), else each level's one tileset image, is the sheet.\n"
        "--grid added or removed says that the sheet gained or lost its one-pixel grid since\n"
        "the levels were made: the tileset's spacing and image size follow. --first-id is the\n"
        "number of the sheet's first tile in CSV levels; smaller numbers and empty fields are\n"
        "empty cells.\n"
        "\n"
        "--margin and --spacing set the margin and spacing of the sheet's tilesets, and their\n"
        "image size follows, so that every cell shows the same picture from a sheet whose tiles\n"
        "now lie there: after \"grid extrude --px E\" of a sheet without margin and spacing,\n"
        "give --margin E --spacing 2E. Either may be left out to keep the tilesets' own. Without\n"
        "--map the tile numbers stay as they are (CSV levels, which hold nothing else, are\n"
        "skipped); with it, both happen in one run. The image must already have the size the\n"
        "new margin and spacing give (its header is read), or the level is refused, both sizes\n"
        "named. --grid added is short for --margin 0 --spacing 1 on a sheet that had neither,\n"
        "--grid removed for the way back.\n"
        "\n"
        "OUTPUT is one of:\n"
        "  -o OUT         for one level whose sheet tileset is inside it (a CSV level, a map\n"
        "                 with the tileset embedded, or a tileset file itself)\n"
        "  --out-dir DIR  each file written, the maps' tileset and template files too, goes\n"
        "                 into DIR at its path below the folder that holds all the run's files\n"
        "                 (DIR/maps/..., DIR/tilesets/...), so that the paths inside the files\n"
        "                 still lead to each other\n"
        "  --in-place     replace each level, and the tileset and template files that change\n"
        "                 with them\n"
        "No file is ever written over unless --in-place is given, and each is written whole or\n"
        "not at all.\n"
        "\n"
        "A level that does not use the sheet is skipped and left as it was. One that cannot be\n"
        "read, understood or written is named on standard error with the place in it and the\n"
        "reason, and left as it was; the others are still done. Each file updated, unchanged\n"
        "(not written: its result is what it holds already) or skipped, with the sheet image it\n"
        "was remapped for, and a summary, are printed on standard output, unless --quiet. The\n"
        "files are done one after another, as maps share tilesets; --jobs changes nothing.\n"
        "Remapping the same levels twice rearranges them twice.\n"
        "\n"
        "Examples:\n"
        "  tilegrid levels remap --map sheet.zeko-map levels/*.tmx --in-place\n"
        "  tilegrid levels remap --map sheet.zeko-map --sheet tiles.png --out-dir new world.tmj\n"
        "  tilegrid levels remap --remap beach.remap levels/*.tmx --in-place\n"
        "  tilegrid levels remap --remap atlas.remap --tileset-out tilesets/atlas.tsx \\\n"
        "      maps/*.tmx --in-place\n"
        "  tilegrid levels remap --map sheet.zeko-map --sheet tiles.png world.ldtk --in-place\n"
        "  tilegrid levels remap --map sheet.zeko-map --grid added --first-id 1 level1.csv \\\n"
        "      -o level1-new.csv\n"
        "  tilegrid grid extrude --px 1 tiles.png --in-place\n"
        "  tilegrid levels remap --margin 1 --spacing 2 levels/*.tmx --in-place\n",
        OptionSet{Option::Map, Option::Remap, Option::Margin, Option::Spacing, Option::Sheet,
                  Option::Grid, Option::FirstId, Option::TileProperty, Option::TilesetOut,
                  Option::Output, Option::OutDir, Option::InPlace},
        InputCount::OneRun, OutputKind::Levels, remapLevelsJob, checkLevelRemap},
    CommandSpec{
        "info", "", "IN... [--tile N|WxH] [--gutter G]",
        "size, depth, whole tiles and grid of each sheet",
        "Prints one block per sheet, in the order given, separated by blank lines: its name,\n"
        "size, the depth its file stores (for a PNG its colour type and bit depth, and the size\n"
        "of a palette), the whole tiles of 8 and 16 pixels (and of N pixels\n"
        "with --tile, at a pitch of N + G with --gutter) with the partial strips left over, and\n"
        "whether it looks gridded: lines of one colour after every tile column and row, none\n"
        "before the first, at a pitch of 9 or 17 (or N + G; G is 1 unless given); and how many\n"
        "of the N × N tiles (default 16) are duplicates of an earlier one: exact, and counting\n"
        "mirrored and turned copies (what sheet dedupe, with and without --flips, would merge).\n"
        "\n"
        "Examples:\n"
        "  tilegrid info sheets/*.png\n"
        "  tilegrid info --tile 24 --gutter 2 packed.png\n"
        "\n"
        "What it prints for a sheet of 2 × 2 tiles of 16 × 16 with a grid:\n"
        "  sheet-grid.png\n"
        "    size: 34 × 34 pixels\n"
        "    depth: 32-bit RGBA (PNG colour type 6, bit depth 8)\n"
        "    8 × 8 tiles: 4 × 4 whole; partial strips: 2 pixels at the right, 2 pixels at the "
        "bottom\n"
        "    16 × 16 tiles: 2 × 2 whole; partial strips: 2 pixels at the right, 2 pixels at the "
        "bottom\n"
        "    grid: 1-pixel lines of #ff00ff after every 16 × 16 tile\n"
        "    duplicate 16 × 16 tiles: 0 exact, 0 with flips\n",
        OptionSet{Option::Tile, Option::Gutter}, InputCount::OneOrMore, OutputKind::Report,
        infoJob},
};

// The help texts are UTF-8 ("N × N") and are read with QString::fromUtf8 wherever they are used.
const char* const kOutputHelp =
    "OUTPUT, for commands that write sheets, is one of:\n"
    "  -o OUT         for one input; OUT must end in .png, .bmp or .webp, which picks\n"
    "                 the format (WebP is written lossless)\n"
    "  --out-dir DIR  for any number of inputs; each result is DIR/NAME, NAME being the\n"
    "                 input's file name, with .png in place of any other extension\n"
    "  --in-place     replace each input (only .png, .bmp and .webp inputs)\n"
    "The folder of OUT, and DIR, are created when missing. No input is ever written over\n"
    "unless --in-place is given, and a file replaced in place keeps its permissions. Every\n"
    "file is written to a temporary file first and takes the target's place only when\n"
    "complete. levels remap takes the same three, and its results keep their names and\n"
    "formats.\n"
    "--compression says how hard PNG results are compressed: fast (the default, as the\n"
    "window saves), small (within 2 % of zlib level 9's size, spread over the cores: about\n"
    "a third of its time on two) or smallest (libdeflate's strongest level: about a tenth\n"
    "smaller than zlib 9, several times slower). The pixels are the same whichever is chosen.\n";

const char* const kExitHelp =
    "Exit status: 0 when every file succeeded or was skipped; 1 when any failed (each named\n"
    "on standard error with the reason; the other files are still done); 2 when the command\n"
    "line is wrong (nothing is done).\n";

QString synopsisLine(const CommandSpec& command)
{
    return QStringLiteral("tilegrid %1 %2")
        .arg(command.words(), QString::fromUtf8(command.synopsis));
}

} // namespace

QString CommandSpec::words() const
{
    const QLatin1StringView second(name);
    return second.isEmpty() ? QString(QLatin1StringView(group))
                            : QStringLiteral("%1 %2").arg(QLatin1StringView(group), second);
}

std::span<const CommandSpec> commandTable()
{
    return kCommands;
}

bool isCommandGroup(const QString& word)
{
    return !commandsOf(word).empty();
}

const CommandSpec* findCommand(const QString& group, const QString& name)
{
    for (const CommandSpec& command : kCommands)
        if (group == QLatin1StringView(command.group) && name == QLatin1StringView(command.name))
            return &command;
    return nullptr;
}

std::vector<const CommandSpec*> commandsOf(const QString& group)
{
    std::vector<const CommandSpec*> found;
    for (const CommandSpec& command : kCommands)
        if (group == QLatin1StringView(command.group))
            found.push_back(&command);
    return found;
}

QString programHelp()
{
    QString text = QStringLiteral(
        "Tilegrid - tile sheet grid and map tool\n"
        "\n"
        "Usage:\n"
        "  tilegrid [FILE]                 start the window (opening FILE)\n"
        "  tilegrid COMMAND ARGUMENTS...   work on sheets and levels without a window\n"
        "  tilegrid COMMAND --help         what one command does, with examples\n"
        "  tilegrid --version              the program's version\n"
        "\n"
        "Commands:\n");
    for (const CommandSpec& command : kCommands)
        text += QStringLiteral("  %1  %2\n      %3\n")
                    .arg(command.words(), -12)
                    .arg(QString::fromUtf8(command.synopsis), QString::fromUtf8(command.summary));
    text += QLatin1Char('\n') + overviewHelp() + QLatin1Char('\n');
    text += outputHelp();
    text += QStringLiteral("\nEvery command also takes:\n") + optionHelp(OptionSet{});
    text += QLatin1Char('\n') + exitHelp();
    text += QStringLiteral("\nExamples:\n") + programExamples();
    return text;
}

QString overviewHelp()
{
    return QStringLiteral(
        "N is the tile edge in pixels (1 to 1024, default 16) and G the grid width (1 to 64).\n"
        "Sheets may be BMP, JPEG, PNG, GIF or WebP; results are written as PNG, BMP or WebP\n"
        "(lossless) by the same writers as the window's. Levels are TMX, TSX, TX, TMJ, TSJ,\n"
        "TJ, CSV, LDtk or Godot (TSCN, TRES) files.\n");
}

QString outputHelp()
{
    return QString::fromUtf8(kOutputHelp);
}

QString exitHelp()
{
    return QString::fromUtf8(kExitHelp);
}

QString programExamples()
{
    return QStringLiteral(
        "  tilegrid grid add sheet.png -o sheet-grid.png\n"
        "  tilegrid grid remove --tile 8 --out-dir plain sheets/*.png\n"
        "  tilegrid map restore edited.png --map edited.zeko-map -o original.png\n"
        "  tilegrid map derive original.png edited.png -o edited.zeko-map\n"
        "  tilegrid levels remap --map edited.zeko-map levels/*.tmx --in-place\n"
        "  tilegrid info sheets/*.png\n");
}

QString commandHelp(const CommandSpec& command)
{
    QString text = QStringLiteral("Usage: %1\n\n").arg(synopsisLine(command));
    text += QString::fromUtf8(command.details);
    text += QStringLiteral("\nOptions:\n") + optionHelp(command.options);
    if (command.output == OutputKind::Sheets)
        text += QLatin1Char('\n') + outputHelp();
    text += QLatin1Char('\n') + exitHelp();
    return text;
}

QString groupHelp(const QString& group)
{
    QString text = QStringLiteral("Usage:\n");
    for (const CommandSpec* command : commandsOf(group))
        text += QStringLiteral("  %1\n      %2\n")
                    .arg(synopsisLine(*command), QString::fromUtf8(command->summary));
    text += QStringLiteral("\n\"tilegrid %1 COMMAND --help\" tells more about one.\n").arg(group);
    return text;
}

QString versionText()
{
    return QStringLiteral("tilegrid %1\n").arg(QLatin1StringView(TILEGRID_VERSION));
}
