// Result column names: repeated names become unique from the second occurrence on, ignoring
// case, without taking a name another column of the select list already has.
#include "engine/sql/ABSRelationalAlgebra.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kova {
namespace {

struct NamingCase {
    std::vector<std::string> given;
    std::vector<bool> plain;
    std::vector<std::string> expected;
};

TEST(ResultColumnNames, RepeatedNamesGetTheFirstFreeNumber) {
    const std::vector<NamingCase> cases = {
        {{"ID", "Name"}, {true, true}, {"ID", "Name"}},
        {{"ID", "ID"}, {true, true}, {"ID", "ID_1"}},
        {{"ID", "ID", "id"}, {true, true, true}, {"ID", "ID_1", "id_2"}},
        // "ID_1" is a later column's name: the repeated plain column skips it.
        {{"ID", "ID", "ID_1"}, {true, true, false}, {"ID", "ID_2", "ID_1"}},
        {{"ID_1", "ID", "ID"}, {false, true, true}, {"ID_1", "ID", "ID_2"}},
        // Aliases and expression names that repeat.
        {{"X", "x"}, {false, false}, {"X", "x_1"}},
        {{"Expr5", "Expr5"}, {false, false}, {"Expr5", "Expr5_1"}},
    };
    for (const NamingCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.given));
        EXPECT_EQ(MakeResultColumnNames(c.given, c.plain), c.expected);
    }
}

} // namespace
} // namespace kova
