#include "model/RegistrationListStatement.h"

namespace kova::app {

std::string RegistrationListStatement(std::string_view sortClause) {
    // Two blanks before FROM: the text is the one the program has always sent.
    std::string statement =
        "SELECT Name, Vorname, AK, Jahrgang, Disziplin1, Disziplin2, Disziplin3, Staffel, v.Schule, n.ID  FROM Namen n, "
        "Verein v WHERE v.ID = n.VereinId ORDER BY ";
    statement += sortClause;
    return statement;
}

} // namespace kova::app
