// Sessions and the session list: the default session, name lookups and their errors,
// activation, automatic names, and what deactivating does to the databases.
#include "api_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kova {
namespace {

using apitest::FakeEngine;
using apitest::MessageOf;
using apitest::NativeErrorOf;

TEST(SessionListTest, FindsSessionsIgnoringCaseAndEmptyMeansDefault) {
    TABSSession access;
    access.SetSessionName("DBAccess");
    TABSSessionList& list = TABSSessionList::Instance();

    struct Case {
        const char* lookup;
        TABSSession* expected;
    };
    const Case cases[] = {
        {"", &list.DefaultSession()},
        {"Default", &list.DefaultSession()},
        {"dEfAuLt", &list.DefaultSession()},
        {"DBAccess", &access},
        {"dbaccess", &access},
        {"DBAccess ", nullptr},
        {"Template", nullptr},
    };
    for (const Case& c : cases) EXPECT_EQ(list.FindSession(c.lookup), c.expected) << c.lookup;
    EXPECT_EQ(MessageOf([&] { (void)list.GetSession("Template"); }),
              "Invalid session name 'Template' - Native error: 20002");
}

TEST(SessionListTest, DestroyedSessionLeavesTheList) {
    auto session = std::make_unique<TABSSession>();
    session->SetSessionName("Fleeting");
    ASSERT_NE(TABSSessionList::Instance().FindSession("Fleeting"), nullptr);
    session.reset();
    EXPECT_EQ(TABSSessionList::Instance().FindSession("Fleeting"), nullptr);
}

TEST(SessionTest, NameErrors) {
    TABSSession first;
    first.SetName("ABSSession1");
    first.SetSessionName("DBAccess");
    TABSSession second;
    second.SetName("ABSSession2");

    EXPECT_EQ(MessageOf([&] { second.SetSessionName("dbACCESS"); }),
              "ABSSession2: Duplicate session name 'dbACCESS'");
    EXPECT_EQ(MessageOf([&] { second.SetSessionName("default"); }), "ABSSession2: Duplicate session name 'default'");
    EXPECT_EQ(second.SessionName(), "");
    EXPECT_EQ(MessageOf([&] { second.SetActive(true); }), "ABSSession2: Session name missing");
    EXPECT_FALSE(second.Active());

    // The same session may take its own name again in another spelling.
    first.SetSessionName("DBACCESS");
    EXPECT_EQ(first.SessionName(), "DBACCESS");
}

TEST(SessionTest, ActivationRunsStartupFirstAndActivatesTheDefaultSession) {
    TABSSession& defaultSession = TABSSessionList::Instance().DefaultSession();
    defaultSession.SetActive(false);
    TABSSession session;
    session.SetSessionName("Starting");
    std::vector<std::string> seen;
    session.SetOnStartup([&](TABSSession& s) {
        seen.push_back(s.SessionName() + (s.Active() ? " active" : " inactive") +
                       (defaultSession.Active() ? ", default active" : ", default inactive"));
    });
    session.SetActive(true);
    session.SetActive(true);  // no second startup
    EXPECT_EQ(seen, std::vector<std::string>{"Starting inactive, default active"});
    EXPECT_TRUE(session.Active());
    session.SetActive(false);
    EXPECT_FALSE(session.Active());
    EXPECT_TRUE(defaultSession.Active());
}

TEST(SessionTest, AutoSessionNamesTakeTheLowestFreeSlotAndReachTheOwnersComponents) {
    TABSComponentOwner moduleA;
    TABSComponentOwner moduleB;
    auto sessionA = std::make_unique<TABSSession>(&moduleA);
    sessionA->SetName("Sess");
    TABSDatabase databaseA(&moduleA);
    TABSQuery queryA(&moduleA);
    TABSQuery foreign(&moduleB);
    sessionA->SetAutoSessionName(true);

    TABSSession sessionB(&moduleB);
    sessionB.SetName("Sess");
    sessionB.SetAutoSessionName(true);

    // No other test keeps a session alive, so the slots start free: the first name ends in _1.
    const std::string nameA = sessionA->SessionName();
    const std::string nameB = sessionB.SessionName();
    EXPECT_EQ(nameA, "Sess_1");
    EXPECT_EQ(nameB, "Sess_2");

    EXPECT_EQ(databaseA.SessionName(), nameA);
    EXPECT_EQ(queryA.SessionName(), nameA);
    EXPECT_EQ(foreign.SessionName(), nameB);
    TABSQuery later(&moduleA);  // made after the name was given
    EXPECT_EQ(later.SessionName(), nameA);

    EXPECT_EQ(MessageOf([&] { sessionB.SetSessionName("Manual"); }),
              "Sess: Cannot modify SessionName while AutoSessionName is enabled");

    // A new component name renames the session and its companions, keeping the slot.
    sessionA->SetName("Module");
    EXPECT_EQ(sessionA->SessionName(), "Module_1");
    EXPECT_EQ(databaseA.SessionName(), sessionA->SessionName());

    // The slot of a destroyed session is free again.
    sessionA.reset();
    TABSSession sessionC;
    sessionC.SetName("Next");
    sessionC.SetAutoSessionName(true);
    EXPECT_EQ(sessionC.SessionName(), "Next_1");
}

TEST(SessionTest, DeactivationClosesExplicitDatabasesAndDestroysTemporaryOnes) {
    apitest::ScratchDirectory dir;
    const std::string file = dir.File("s.abs");
    apitest::MakeDatabaseFile(file, "pw");
    FakeEngine engine;
    engine.Table(file, "T").columns = {apitest::Column("A", TABSBaseType::bftInteger, TFieldType::ftInteger)};

    TABSSession session;
    session.SetSessionName("Closing");
    TABSDatabase explicitDb;
    explicitDb.SetSessionName("Closing");
    explicitDb.SetDatabaseName("Named");
    explicitDb.SetDatabaseFileName(file);
    explicitDb.SetPassword("pw");
    explicitDb.SetConnected(true);
    ASSERT_TRUE(session.Active());

    // A query naming the file directly gets a temporary database of its own name; it is
    // silent, so no password prompt: the file is opened with an empty password and fails.
    TABSQuery direct;
    direct.SetSessionName("Closing");
    direct.SetDatabaseName(file);
    direct.SetSQLText("SELECT * FROM T");
    EXPECT_EQ(NativeErrorOf([&] { direct.Open(); }), 20298);  // the file is open with "pw"
    EXPECT_EQ(session.TemporaryDatabaseCount(), 0u);           // the failed one is gone again

    TABSQuery viaAlias;
    viaAlias.SetSessionName("Closing");
    viaAlias.SetDatabaseName("named");
    viaAlias.SetSQLText("SELECT * FROM T");
    viaAlias.Open();
    EXPECT_EQ(viaAlias.Database(), &explicitDb);

    TABSQuery memory;
    memory.SetSessionName("Closing");
    memory.SetInMemory(true);
    engine.Table("MEMORY", "T").columns = {apitest::Column("A", TABSBaseType::bftInteger, TFieldType::ftInteger)};
    memory.SetSQLText("SELECT * FROM T");
    memory.Open();
    ASSERT_EQ(session.TemporaryDatabaseCount(), 1u);
    EXPECT_TRUE(memory.Database()->Temporary());
    EXPECT_TRUE(memory.Database()->SilentMode());

    session.SetActive(false);
    EXPECT_FALSE(session.Active());
    EXPECT_FALSE(explicitDb.Connected());
    EXPECT_FALSE(viaAlias.Active());
    EXPECT_FALSE(memory.Active());
    EXPECT_EQ(session.TemporaryDatabaseCount(), 0u);
    EXPECT_EQ(TABSDatabaseDataList::Instance().ConnectionCount(file), 0);
}

} // namespace
} // namespace kova
