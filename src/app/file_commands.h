#pragma once

#include <QString>

#include "document/sheet_files.h"

class BackgroundWork;
class Dialogs;
class Document;

// The user's file commands: each asks its questions through dialogs first, then has the document
// do the work, and reports every failure there with the file and the reason. Cancel or a failure
// leaves the document as it was. Given work, decoding and encoding run away from the window's
// thread on large sheets; without, in place.

inline const QString kOpenImageTitle = QStringLiteral("Please choose file to open..");
inline const QString kSaveTitle = QStringLiteral("Please choose file to save..");
inline const QString kImageOpenFilter = QStringLiteral(
    "Supported Images (*.bmp;*.jpg;*.png;*.gif)|*.bmp;*.jpg;*.png;*.gif");
inline const QString kImageSaveFilter = QStringLiteral(
    "Portable Network Graphics (*.png)|*.png|Windows Bitmap (*.bmp)|*.bmp");
inline const QString kMapFilter = QStringLiteral("ZEKO Image MapData (*.zeko-map)|*.zeko-map");
inline const QString kLevelsTitle = QStringLiteral("Please choose level files..");
// "Level Files (*.tmx;…)|*.tmx;…|All Files (*)|*", from the level formats there are.
QString levelFilter();

// “sheet.png” for a path: how the window's messages name a file.
QString quotedFileName(const QString& path);

// Opens an image (asking for the file when path is empty), asks the grid question and makes it the
// sheet. Returns true when a new image was loaded.
bool openImage(Document& doc, Dialogs& dialogs, const QString& path,
               BackgroundWork* work = nullptr);

// Saves the image as PNG or BMP by the filter chosen. Returns true when a file was written.
bool saveImageAs(Document& doc, Dialogs& dialogs, BackgroundWork* work = nullptr);
// Saves the image to target as Save As does once the file is chosen: in the background with
// Cancel, a failure shown. Returns true when the file was written.
bool saveImageTo(Document& doc, Dialogs& dialogs, const QString& target, ImageFileFormat format,
                 BackgroundWork* work = nullptr);

// Lets the user choose the colour of grid lines inserted from now on.
void chooseGridColor(Document& doc, Dialogs& dialogs);

// Reads a map file (asking when path is empty) and makes it the tile map. Returns true when loaded.
bool openMapFile(Document& doc, Dialogs& dialogs, const QString& path);

// Saves the tile map. Returns true when a file was written.
bool saveMapFile(Document& doc, Dialogs& dialogs);
