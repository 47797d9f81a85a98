#pragma once

#include <QString>

// The manual page and the shell completions, written from the command table so that they name
// exactly the commands and options the program takes.

QString manPage();             // tilegrid(1), in the man macros
QString bashCompletion();      // sourced by bash-completion, or by hand
QString zshCompletion();       // _tilegrid, for a folder of $fpath
QString fishCompletion();      // tilegrid.fish
QString commandLineMarkdown(); // docs/command-reference.md
