#pragma once

#include <QString>

// The window title and the About text are kept scrambled (3 added to every character) and turned
// back into display text each time they are shown.
QString unscrambleCaption(const QString& scrambled);

QString windowTitleText();
QString aboutText();
