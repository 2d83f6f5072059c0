// Database files as the file commands handle them: the name a new database gets, and the byte
// copy that makes a database from a template.
#pragma once

#include <QString>

#include <system_error>

namespace kova::app {

// `path` with the extension of its file name replaced by `extension` (which brings its own
// dot), or with `extension` added when the file name has none. The extension is what follows
// the last dot of the file name; a dot that starts the file name belongs to the name, and a
// dot in a folder name is no extension.
[[nodiscard]] QString ChangeFileExt(const QString& path, const QString& extension);

// The file a new registration database is written to, for the name chosen in the save dialog.
[[nodiscard]] inline QString NewDatabasePath(const QString& chosen) { return ChangeFileExt(chosen, QStringLiteral(".abs")); }

// Copies `source` byte for byte to `target`, replacing an existing target. The copy is made
// beside the target first and takes the target's name only when it is complete, so a failed
// copy leaves an existing target as it was. The copy is writable by its owner even when the
// source is write-protected: a database must take the school's registrations. Copying a file
// onto itself is refused. Returns the failure, or an empty code.
[[nodiscard]] std::error_code CopyDatabaseFile(const QString& source, const QString& target);

} // namespace kova::app
