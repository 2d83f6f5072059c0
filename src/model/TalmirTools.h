// Key filter of numeric input fields.
#pragma once

#include <QChar>

namespace kova::app {

class TTalmirTools {
public:
    // Lets backspace, tab, "-" and the digits 0 to 9 through; any other key becomes the NUL
    // character, which the input field then ignores.
    static void FilterYearKey(QChar& key) noexcept;
};

} // namespace kova::app
