#include "model/TalmirTools.h"

namespace kova::app {

void TTalmirTools::FilterYearKey(QChar& key) noexcept {
    const char16_t c = key.unicode();
    const bool passes = c == u'\b' || c == u'\t' || c == u'-' || (c >= u'0' && c <= u'9');
    if (!passes) key = QChar(u'\0');
}

} // namespace kova::app
