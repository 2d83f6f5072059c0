// Helpers shared by the value, conversion and format tests: short value constructors, a
// fixture that pins the process-wide formats and collation locale, and a way to catch the
// native code of an engine error.
#pragma once

#include "engine/core/ABSExcept.h"
#include "engine/core/ABSVariant.h"
#include "engine/core/Collation.h"
#include "engine/core/FormatSettings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kova::test {

inline TABSVariant Null(TABSBaseType type) { return TABSVariant(type); }
inline TABSVariant Str(std::string_view s, TABSBaseType type = TABSBaseType::bftString) {
    TABSVariant v;
    v.SetAsString(s, type);
    return v;
}
inline TABSVariant Chr(std::string_view s) { return Str(s, TABSBaseType::bftChar); }
inline TABSVariant WStr(std::u16string_view s, TABSBaseType type = TABSBaseType::bftWideString) {
    TABSVariant v;
    v.SetAsWideString(s, type);
    return v;
}
inline TABSVariant Int(std::int64_t i, TABSBaseType type = TABSBaseType::bftInteger) {
    TABSVariant v;
    v.SetIntegerValue(type, i);
    return v;
}
inline TABSVariant Dbl(long double d, TABSBaseType type = TABSBaseType::bftDouble) {
    TABSVariant v;
    v.SetFloatValue(type, d);
    return v;
}
inline TABSVariant Bool(bool b) {
    TABSVariant v;
    v.SetAsBoolean(b);
    return v;
}
inline TABSVariant Date(int y, int m, int d) {
    TABSVariant v;
    v.SetAsDate(*TryEncodeDate(y, m, d));
    return v;
}
inline TABSVariant Time(int h, int n, int s, int ms = 0) {
    TABSVariant v;
    v.SetAsTime(*TryEncodeTime(h, n, s, ms));
    return v;
}
inline TABSVariant DT(std::int32_t date, std::int32_t time) {
    TABSVariant v;
    v.SetAsDateTime(TABSDateTime{date, time});
    return v;
}
inline TABSVariant Blob(std::string_view bytes) {
    TABSVariant v;
    v.SetAsBlob(bytes);
    return v;
}

// Outcome of running `f`: 0 when it returns, else the native code of the EABSException it
// raised; `message` receives the message without the native error suffix.
inline int NativeErrorOf(const std::function<void()>& f, std::string* message = nullptr) {
    try {
        f();
    } catch (const EABSException& e) {
        if (message != nullptr) *message = e.Message();
        return e.NativeError();
    }
    return 0;
}

// The settings the application runs with in a German locale: its own date and time formats and
// the locale's decimal comma. Restores the process-wide state afterwards.
class GermanSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedSettings_ = *GetFormatSettings();
        savedLocale_ = CollationLocale();
        TFormatSettings fs = FormatSettingsForLocale("de_DE");
        fs.ShortDateFormat = "dd.mm.yyyy";
        fs.ShortTimeFormat = "hh:nn";
        fs.LongTimeFormat = "hh:nn:ss";
        fs.DecimalSeparator = ',';
        fs.DateSeparator = '.';
        fs.TimeSeparator = ':';
        SetFormatSettings(fs);
        SetCollationLocale("de_DE");
    }
    void TearDown() override {
        SetFormatSettings(savedSettings_);
        SetCollationLocale(savedLocale_);
    }

private:
    TFormatSettings savedSettings_;
    std::string savedLocale_;
};

} // namespace kova::test
