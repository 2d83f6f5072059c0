// The command that writes the export list for the results program: it builds the lines of the
// working database, shows them in the preview, and on OK asks for a file name and saves.
//
// The main window's ExportToQUVClick (and through it the list window's "nach QUV") runs it with
// the enabled state of its ExportToQUV command; nothing happens while that is disabled.
#pragma once

namespace kova::app {

class TDM;
class TFormQUV;

inline constexpr const char* kQUVSaveTitle = "QUV speichern als ...";
inline constexpr const char* kQUVSaveFilter = "QUV- Liste (*.QUV)|*.QUV|Alle Dateien (*.*)|*.*";

// Reads the registrations of dm.ABSDB() (source rows on ABSQH1, lookups on ABSQH2), shows them in
// `preview` and, once it is confirmed, saves them through dm.Save() and reports the file name.
// Engine errors and a file that cannot be written pass to the caller.
void ExportToQUV(TDM& dm, TFormQUV& preview, bool commandEnabled);

} // namespace kova::app
