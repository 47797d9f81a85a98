#pragma once

#include <QString>

// The file a path names, as one string per file, so that "a.png", "./a.png", "art/../a.png" and
// a link to it compare equal: the canonical path of a file that exists; of one that does not
// (yet), the identity of its folder and its own name. Links and ".." are resolved as the file
// system resolves them, not by the spelling; only below a folder that does not exist either are
// the names taken as written. Empty for an empty path.
QString fileIdentity(const QString& path);

// The file that `name` (relative, or absolute) names from `folder`, as an absolute path the file
// system opens as the same file: tidied ("a/./b", "a/../b") unless a link before a ".." would make
// the tidy spelling lead to another file.
QString pathFrom(const QString& folder, const QString& name);
