// Tokenizer: token kinds and texts, keyword numbers, positions, statement splitting and the
// tokenizer's errors with their codes, texts and positions.
#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSLexer.h"
#include "engine/sql/ABSSQLErrors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kova {
namespace {

// Renders a statement's tokens as "kind:text" joined by "|"; kinds: W word, S string,
// B bracketed name, I integer, F float, K keyword, P parameter, ( ) , . as themselves.
std::string Render(const TABSTokenList& list) {
    std::string out;
    for (const auto& t : list.Tokens()) {
        if (!out.empty()) out += '|';
        switch (t.kind) {
        case TokenKind::Word: out += t.quoted ? "Q:" : "W:"; break;
        case TokenKind::String: out += "S:"; break;
        case TokenKind::BracketName: out += "B:"; break;
        case TokenKind::Integer: out += "I:"; break;
        case TokenKind::Float: out += "F:"; break;
        case TokenKind::Keyword: out += "K:"; break;
        case TokenKind::Parameter: out += "P:"; break;
        case TokenKind::OpenParen: out += "("; continue;
        case TokenKind::CloseParen: out += ")"; continue;
        case TokenKind::Comma: out += ","; continue;
        case TokenKind::Dot: out += "."; continue;
        }
        out += t.text;
    }
    return out;
}

std::string RenderAll(TABSLexer& lexer) {
    std::string out;
    for (std::size_t i = 0; i < lexer.StatementCount(); ++i) {
        if (i) out += " ; ";
        out += Render(lexer.Statement(i));
    }
    return out;
}

struct TokenCase {
    const char* sql;
    const char* expected;
};

class LexerTokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(LexerTokens, ProducesExpectedTokens) {
    TABSLexer lexer(GetParam().sql);
    EXPECT_EQ(RenderAll(lexer), GetParam().expected) << GetParam().sql;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LexerTokens,
    ::testing::Values(
        // The application's class test, with its parenthesised condition and trailing ";".
        TokenCase{"SELECT * FROM Klassen WHERE (Kuerzel=\"WK3m\" AND AlterVon<=12 AND AlterBis>=12);",
                  "K:SELECT|W:*|K:FROM|W:Klassen|K:WHERE|(|W:Kuerzel|W:=|S:WK3m|K:AND|W:AlterVon|W:<=|I:12|"
                  "K:AND|W:AlterBis|W:>=|I:12|)"},
        // An empty literal directly followed by a keyword.
        TokenCase{"UPDATE Namen SET AK=\"\"WHERE ID=\"N1\";",
                  "K:UPDATE|W:Namen|K:SET|W:AK|W:=|S:|K:WHERE|W:ID|W:=|S:N1"},
        TokenCase{"'it''s' \"a\"\"b\" 'x\"y'", "S:it's|S:a\"b|S:x\"y"},
        TokenCase{"a-b a+b a*b a/b a=b", "W:a|W:-|W:b|W:a|W:+|W:b|W:a|W:*|W:b|W:a|W:/|W:b|W:a|W:=|W:b"},
        TokenCase{"a<b a<=b a<>b a>b a>=b a||b a|b", "W:a|W:<|W:b|W:a|W:<=|W:b|W:a|W:<>|W:b|W:a|W:>|W:b|W:a|W:>=|W:b|"
                                                 "W:a|W:|||W:b|W:a|W:||W:b"},
        TokenCase{"1 12.5 1.5E+3 2e-7 .5 7E3", "I:1|F:12.5|F:1.5E+3|F:2e-7|F:.5|F:7E3"},
        TokenCase{"1+2-3", "I:1|W:+|I:2|W:-|I:3"},
        TokenCase{"n.ID v . Schule", "W:n|.|W:ID|W:v|.|W:Schule"},
        TokenCase{"f(a,b)", "W:f|(|W:a|,|W:b|)"},
        TokenCase{"[select] [a b] `from` `a\\`b`", "B:select|B:a b|Q:from|Q:a`b"},
        TokenCase{"abc\"def ab'c", "W:abc\"def|W:ab'c"},
        TokenCase{"_x$1 #t Grösse", "W:_x$1|W:#t|W:Grösse"},
        TokenCase{"select Select SELECT sElEcT", "K:select|K:Select|K:SELECT|K:sElEcT"},
        TokenCase{"ABSOLUTE absolute", "W:ABSOLUTE|W:absolute"},
        TokenCase{"END-EXEC", "K:END|W:-|K:EXEC"},
        // Comments: line comments end the token; block comments vanish, also inside a word.
        TokenCase{"a -- comment\nb", "W:a|W:b"},
        TokenCase{"a--x", "W:a"},
        TokenCase{"ab/* c */de f", "W:abde|W:f"},
        TokenCase{"a /* ; */ b; c", "W:a|W:b ; W:c"},
        TokenCase{"'a -- b' \"/* c */\"", "S:a -- b|S:/* c */"},
        TokenCase{"'x;y'", "S:x;y"},
        TokenCase{"'line1\nline2'", "S:line1\nline2"},
        // Statement splitting: no empty statements.
        TokenCase{"SELECT 1;;", "K:SELECT|I:1"},
        TokenCase{";SELECT 1; SELECT 2;", "K:SELECT|I:1 ; K:SELECT|I:2"},
        TokenCase{"-- only a comment\n/* and more */", ""},
        TokenCase{";", ""}));

struct PositionCase {
    const char* sql;
    std::size_t index;
    std::uint32_t line;
    std::uint32_t column;
};

class LexerPositions : public ::testing::TestWithParam<PositionCase> {};

TEST_P(LexerPositions, RecordsLineAndColumnOfFirstCharacter) {
    TABSLexer lexer(GetParam().sql);
    ASSERT_EQ(lexer.StatementCount(), 1u);
    const auto& token = lexer.Statement(0).At(GetParam().index);
    EXPECT_EQ(token.line, GetParam().line) << token.text;
    EXPECT_EQ(token.column, GetParam().column) << token.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LexerPositions,
    ::testing::Values(PositionCase{"SELECT *\nFROM Namen", 2, 2, 1}, PositionCase{"SELECT *\nFROM Namen", 3, 2, 6},
                      PositionCase{"SELECT *\r\nFROM Namen", 3, 2, 6},  // CR does not count
                      PositionCase{"a\tb", 1, 1, 3},
                      PositionCase{"'ä' x", 1, 1, 5},                   // characters, not bytes
                      PositionCase{"'a\nb' c", 1, 2, 4},                // literal spanning lines
                      PositionCase{"x /* \n */ y", 1, 2, 5}));

TEST(LexerLines, SplitTextTokenizesAsOneLine) {
    const char* oneLine = "SELECT * FROM Namen WHERE ID=\"N1\" AND AK=\"W41\" ORDER BY Name";
    const char* split = "SELECT *\nFROM Namen\nWHERE ID=\"N1\"\nAND AK=\"W41\"\nORDER BY Name";
    TABSLexer a(oneLine);
    TABSLexer b(split);
    EXPECT_EQ(RenderAll(a), RenderAll(b));
}

struct ErrorCase {
    const char* sql;
    int code;
    const char* message;
};

class LexerErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(LexerErrors, RaisesCodeAndMessage) {
    try {
        TABSLexer lexer(GetParam().sql);
        FAIL() << "no error for " << GetParam().sql;
    } catch (const EABSException& e) {
        EXPECT_EQ(e.NativeError(), GetParam().code);
        EXPECT_EQ(e.Message(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LexerErrors,
    ::testing::Values(
        ErrorCase{"SELECT * FROM Klassen WHERE (Kuerzel=\"a\"", sqlerr::kMissingParen,
                  "Missing symbol ')' at line 1, column 29"},
        ErrorCase{"SELECT * FROM K\nWHERE (a=1 AND (b=2)", sqlerr::kMissingParen,
                  "Missing symbol ')' at line 2, column 16"},
        ErrorCase{"SELECT * FROM K WHERE (a=1))", sqlerr::kUnexpectedParen,
                  "Unexpected symbol ')' found at line 1, column 28"},
        ErrorCase{"SELECT (1;)", sqlerr::kMissingParen, "Missing symbol ')' at line 1, column 8"},
        ErrorCase{"SELECT 'abc", sqlerr::kUnterminatedString, "Unterminated string at line 1, column 8"},
        ErrorCase{"SELECT\n  \"abc; x", sqlerr::kUnterminatedString, "Unterminated string at line 2, column 3"},
        ErrorCase{"SELECT [abc", sqlerr::kUnterminatedString, "Unterminated string at line 1, column 8"},
        ErrorCase{"SELECT 12ab", sqlerr::kInvalidNumericSymbol, "Invalid numeric symbol 'a' at line 1, column 10"},
        ErrorCase{"SELECT\n 1.5x", sqlerr::kInvalidNumericSymbol, "Invalid numeric symbol 'x' at line 2, column 5"},
        ErrorCase{"SELECT 5\"a\"", sqlerr::kInvalidNumericSymbol, "Invalid numeric symbol '\"' at line 1, column 9"},
        ErrorCase{"SELECT 1ä", sqlerr::kInvalidNumericSymbol, "Invalid numeric symbol 'ä' at line 1, column 9"},
        ErrorCase{"SELECT :p", sqlerr::kParamNotFound, "Value for parameter 'p' not found"},
        ErrorCase{"SELECT ?", sqlerr::kParamNotFound, "Value for parameter 'Param1' not found"}));

TEST(LexerParameters, FindsNamedAndPositionalParameters) {
    const std::vector<std::string> params{"Name", "Jahr", "third"};
    TABSLexer lexer("SELECT :name, :\"JAHR\", ?, ?, :[Third]", params);
    const auto& list = lexer.Statement(0);
    struct Expect {
        std::size_t index;
        int param;
        const char* text;
    };
    for (const Expect e : {Expect{1, 0, "name"}, Expect{3, 1, "JAHR"}, Expect{5, 0, "Param1"},
                           Expect{7, 1, "Param2"}, Expect{9, 2, "Third"}}) {
        const auto& t = list.At(e.index);
        EXPECT_EQ(t.kind, TokenKind::Parameter) << e.index;
        EXPECT_EQ(t.paramIndex, e.param) << e.index;
        EXPECT_EQ(t.text, e.text) << e.index;
    }
}

TEST(LexerKeywords, NumbersFollowTheTable) {
    struct Expect {
        const char* word;
        int number;
    };
    for (const Expect e : {Expect{"ACTION", 1}, Expect{"all", 3}, Expect{"Select", 179}, Expect{"WHERE", 224},
                           Expect{"password", 230}, Expect{"INDEX", 237}, Expect{"RENAME", 259},
                           Expect{"IF", 265}, Expect{"TRUNCATE", 266}, Expect{"ROUND", 278}, Expect{"RNDUP", 291},
                           Expect{"ABSOLUTE", 292}, Expect{"Klassen", 292}}) {
        EXPECT_EQ(static_cast<int>(FindKeyword(e.word)), e.number) << e.word;
    }
    EXPECT_EQ(KeywordText(kwBLOBCOMPRESSIONALGORITHM), "BLOBCOMPRESSIONALGORITHM");
    EXPECT_EQ(KeywordText(0), "ABSOLUTE");
}

TEST(LexerReader, WalksPeeksAndReturnsToSavedPosition) {
    TABSLexer lexer("SELECT a FROM t; DELETE FROM t");
    ASSERT_EQ(lexer.StatementCount(), 2u);
    EXPECT_TRUE(lexer.Current()->IsKeyword(kwSELECT));
    const std::size_t saved = lexer.Pos();
    EXPECT_EQ(lexer.Next()->text, "a");
    EXPECT_TRUE(lexer.Peek()->IsKeyword(kwFROM));
    EXPECT_EQ(lexer.Next()->text, "FROM");
    EXPECT_EQ(lexer.Next()->text, "t");
    EXPECT_EQ(lexer.Next(), nullptr);
    lexer.SetPos(saved);
    EXPECT_TRUE(lexer.Current()->IsKeyword(kwSELECT));
    EXPECT_TRUE(lexer.NextStatement());
    EXPECT_TRUE(lexer.Current()->IsKeyword(kwDELETE));
    EXPECT_FALSE(lexer.NextStatement());
    lexer.AppendStatement();
    TABSToken star;
    star.text = "*";
    lexer.AppendToken(star);
    EXPECT_EQ(lexer.StatementCount(), 3u);
    EXPECT_EQ(lexer.Current()->text, "*");
}

} // namespace
} // namespace kova
