// What the main window keeps in the per-user store: when the program was last used and where it
// is installed. The program never relies on these values; they are for the people who look
// after the machines.
#pragma once

#include <QString>

namespace kova::app {

class TRegstry;

// "Software\Talmir\" + the program file's name without extension.
[[nodiscard]] QString IniKeyFor(const QString& programPath);

// The current local date and time as stored: date "dd.mm.yyyy", a blank, the locale's long time.
[[nodiscard]] QString NowAsText();

// At start: reads "LastUsed" (which opens, and so creates, the key); the value is not used.
void ReadFromIni(TRegstry& registry, const QString& programPath);

// At close: writes "LastUsed", "InstallPath" and "VorlagenPath" in this order. Raises
// ERegistryException when the store cannot be written.
void WriteToIni(TRegstry& registry, const QString& programPath);

} // namespace kova::app
