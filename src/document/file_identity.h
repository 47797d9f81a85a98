#pragma once

#include <QString>

// The file a path names, as one string per file, so that "a.png", "./a.png", "art/../a.png" and
// a link to it compare equal: the canonical path of a file that exists; of one that does not
// (yet), the identity of its folder and its own name. Links and ".." are resolved as the file
// system resolves them, not by the spelling; only below a folder that does not exist either are
// the names taken as written. Empty for an empty path.
QString fileIdentity(const QString& path);
