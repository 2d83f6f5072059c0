// Exceptions, the message formatter, the engine checksum and the text codec.
#include "engine/core/ABSExcept.h"
#include "engine/core/Crc32.h"
#include "engine/core/TextCodec.h"

#include <gtest/gtest.h>

#include <string>

namespace kova {
namespace {

TEST(FormatMessage, FillsTextAndNumberArguments) {
    EXPECT_EQ(FormatMessage("Invalid PageNo = %d", {-1}), "Invalid PageNo = -1");
    EXPECT_EQ(FormatMessage("Table '%s' not exists.", {"Namen"}), "Table 'Namen' not exists.");
    EXPECT_EQ(FormatMessage("%.5d|%%|%s", {42, 7}), "00042|%|7");
}

TEST(FormatMessage, MismatchedArgumentsGiveTheFormatItself) {
    EXPECT_EQ(FormatMessage("Page: %d already used", {}), "Page: %d already used Arguments are invalid!");
    EXPECT_EQ(FormatMessage("Page: %d", {"x"}), "Page: %d Arguments are invalid!");
}

TEST(EABSException, TextEndsWithFiveDigitNativeError) {
    try {
        RaiseError(30445, "Cannot open database because incorrect password");
        FAIL() << "nothing raised";
    } catch (const EABSError& e) {
        const auto* engine = dynamic_cast<const EABSException*>(&e);
        ASSERT_NE(engine, nullptr);
        EXPECT_EQ(engine->NativeError(), 30445);
        EXPECT_STREQ(e.what(), "Cannot open database because incorrect password - Native error: 30445");
    }
}

TEST(EABSEngineError, NamesCodeAndItsText) {
    EXPECT_STREQ(EABSEngineError(-12).what(), "Database Engine Error # -12 Record is locked");
    EXPECT_STREQ(EABSEngineError(-8, "custom").what(), "Database Engine Error # -8 custom");
    const EDatabaseError& asComponentError = EABSEngineError(-1);
    EXPECT_STREQ(asComponentError.what(), "Database Engine Error # -1 Error adding record");
    EXPECT_STREQ(EDatabaseError("ABSQuery1", "DatabaseName property is blank").what(),
                 "ABSQuery1: DatabaseName property is blank");
    EXPECT_STREQ(EDatabaseError("", "Database name missing").what(), "Database name missing");
}

TEST(EngineCrc32, DiffersFromTheUsualCrc) {
    EXPECT_EQ(EngineCrc32("abc", 3), 0xCA6598D0u);
    EXPECT_EQ(EngineCrc32("", 0), 0u);
    // Checksumming in pieces gives the same as checksumming at once.
    EXPECT_EQ(EngineCrc32("c", 1, EngineCrc32("ab", 2)), 0xCA6598D0u);
}

TEST(TextCodec, Cp1252RoundTripsGermanText) {
    const std::string text = "Weiß Schröder Jürgen ÄÖÜäöü € „“ O'Neill";
    const std::string bytes = Utf8ToCp1252(text);
    EXPECT_EQ(bytes.size(), Utf8Length(text));
    EXPECT_EQ(static_cast<unsigned char>(Utf8ToCp1252("ß")[0]), 0xDF);
    EXPECT_EQ(static_cast<unsigned char>(Utf8ToCp1252("€")[0]), 0x80);
    EXPECT_EQ(Cp1252ToUtf8(bytes), text);
}

TEST(TextCodec, RefusesCharactersOutsideCp1252) {
    for (const char* name : {"Novák č", "Kovačević ć", "Łukasz ł", "Şahin ş", "日本"}) {
        EXPECT_FALSE(IsCp1252Representable(name)) << name;
        try {
            (void)Utf8ToCp1252(name);
            FAIL() << name;
        } catch (const EABSException& e) {
            EXPECT_EQ(e.NativeError(), kUnrepresentableTextError);
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
        }
    }
}

TEST(TextCodec, RefusesMalformedUtf8) {
    for (const std::string& bad : {std::string("\xC3"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
                                  std::string("a\xFF")}) {
        EXPECT_FALSE(IsCp1252Representable(bad));
        EXPECT_THROW((void)Utf8ToUtf16(bad), EABSException);
    }
}

TEST(TextCodec, EveryCp1252ByteDecodesAndEncodesBack) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(TextCodec, Utf16RoundTripsIncludingSurrogatePairs) {
    const std::string text = "Müller 𝄞 č";
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide.size(), 11u);
    EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(TextCodec, PrefixCountsCharactersNotBytes) {
    EXPECT_EQ(Utf8Prefix("Jürgen", 3), "Jür");
    EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
    EXPECT_EQ(Utf8Length("Weiß"), 4u);
}

} // namespace
} // namespace kova
