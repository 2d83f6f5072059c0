// Where the program finds its files on this platform, and the process-wide text formats.
#pragma once

#include <QString>

namespace kova::app {

// The folder of competition templates: "Vorlagen" beside the executable, with a trailing "/".
[[nodiscard]] QString TemplatesFolder();
// Points TemplatesFolder at another folder (a trailing "/" is added when missing); an empty text
// goes back to the folder beside the executable. Returns the folder set before (empty: none).
// The program never redirects it; tests and benchmarks use their own folders of templates.
QString SetTemplatesFolder(QString folder);
// The folder a file dialog starts in when nothing else is known: the user's home folder.
[[nodiscard]] QString InitialFolder();
// The help file: the program's path with its extension (if any) replaced by ".chm".
[[nodiscard]] QString HelpFileName();
// The same rule for any program path (kept apart for tests).
[[nodiscard]] QString HelpFileNameFor(const QString& programPath);

// Sets the process's short date format "dd.mm.yyyy" (date separator ".") and short time format
// "hh:nn" (time separator ":") in the engine's format settings; the long time format stays as
// the locale gives it. Every date or time the program writes or reads as text uses them.
void SetApplicationFormats();

} // namespace kova::app
