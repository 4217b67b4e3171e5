// The data-access core against real SQLite files in a private temporary folder.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "vxDataAccess/DirectDataAccess.h"

namespace fs = std::filesystem;
using tw::DbConnection;
using tw::EDatabaseError;
using tw::DirectDataAccess;

namespace {

class DataAccessCore : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::temp_directory_path() / ("tw-da-" + std::string(info->name()) + "-" +
                                               std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        path_ = (folder_ / "TARNOWICK.GDB").string();
    }
    void TearDown() override {
        if (conn_) db_.DisconnectDB(conn_, true);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    DbConnection Connect() {
        conn_ = db_.ConnectDB(path_, "SYSDBA", "masterkey", 0, true);
        return conn_;
    }
    int AddDevice(const std::string& description, const std::string& port = "502", const std::string& disabled = "0") {
        return db_.InsertRecord(conn_, "DEVICE", {"DESCRIPTION", "IP_ADDRESS", "PORT", "UNIT_ID", "DISABLED"},
                                {description, "127.0.0.1", port, "1", disabled}, true);
    }
    int AddRegister(const std::string& deviceId, const std::string& description, const std::string& tag) {
        return db_.InsertRecord(conn_, "I_O_SETTING",
                                {"DEVICE_ID", "DESCRIPTION", "REGISTER_NO", "TAG_NAME", "REGISTER_TYPE"},
                                {deviceId, description, "40", tag, "0"}, true);
    }
    std::vector<std::string> Column(const std::string& sql, const std::string& field) {
        std::vector<std::string> values;
        auto set = db_.QueryRecords(conn_, sql, true);
        for (set->First(); !set->Eof(); set->Next()) values.push_back(set->FieldAsString(field));
        return values;
    }

    fs::path folder_;
    std::string path_;
    DirectDataAccess db_;
    DbConnection conn_ = 0;
};

TEST_F(DataAccessCore, FirstConnectCreatesTheDatabaseWithBothTables) {
    ASSERT_FALSE(fs::exists(path_));
    ASSERT_NE(Connect(), 0u);
    EXPECT_TRUE(fs::exists(path_));
    EXPECT_TRUE(db_.QueryRecords(conn_, "SELECT * FROM DEVICE ORDER BY DESCRIPTION", true)->Eof());
    EXPECT_TRUE(db_.QueryRecords(conn_, "SELECT * FROM I_O_SETTING WHERE DEVICE_ID = 1", true)->Eof());
    // A second start finds the file as it was left.
    EXPECT_GT(AddDevice("Pump"), 0);
    db_.DisconnectDB(conn_, true);
    ASSERT_NE(Connect(), 0u);
    EXPECT_EQ(Column("SELECT * FROM DEVICE", "DESCRIPTION"), std::vector<std::string>{"Pump"});
}

// The journal is the installer's file in a folder where a normal user may make none: no save deletes it,
// another program may save between ours, and the rollback of a save that a crash cut off keeps it too.
TEST_F(DataAccessCore, SavesAndTheRollbackOfACrashedSaveKeepTheJournal) {
    const std::string journal = path_ + "-journal";
    const auto journalKept = [&] { return fs::exists(journal) && fs::file_size(journal) == 0; };
    ASSERT_NE(Connect(), 0u);
    EXPECT_TRUE(journalKept());
    EXPECT_GT(AddDevice("Pump"), 0);
    EXPECT_EQ(db_.UpdateRecords(conn_, "UPDATE DEVICE SET PORT = 503 WHERE ID = 1", true), 1);
    EXPECT_GT(AddRegister("1", "Level", "T1"), 0);
    EXPECT_EQ(db_.DeleteRecords(conn_, "I_O_SETTING", "ID = 1", true), 1);
    EXPECT_TRUE(journalKept());

    // Another copy of the library saves while we are connected; its journal, taken mid-save and put
    // back after the save, is what a crash after the database was written leaves.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
    const auto exec = [&](const char* sql) { return sqlite3_exec(other, sql, nullptr, nullptr, nullptr); };
    ASSERT_EQ(exec("PRAGMA journal_mode=TRUNCATE; PRAGMA synchronous=OFF; BEGIN;"
                   "UPDATE DEVICE SET DESCRIPTION = 'half saved'"), SQLITE_OK);
    std::ifstream in(journal, std::ios::binary);
    const std::string hot((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    EXPECT_EQ(exec("COMMIT"), SQLITE_OK) << "our connection holds the file locked";
    sqlite3_close(other);
    db_.DisconnectDB(conn_, true);
    ASSERT_FALSE(hot.empty());
    std::ofstream(journal, std::ios::binary) << hot;

    ASSERT_NE(Connect(), 0u);
    EXPECT_EQ(Column("SELECT * FROM DEVICE", "DESCRIPTION"), std::vector<std::string>{"Pump"});
    EXPECT_TRUE(fs::exists(journal));
    EXPECT_GT(AddDevice("Fan"), 0);
    EXPECT_TRUE(journalKept());
}

TEST_F(DataAccessCore, ConnectFailsWhereNoFileCanBeMade) {
    path_ = (folder_ / "missing" / "TARNOWICK.GDB").string();
    EXPECT_EQ(Connect(), 0u);
    EXPECT_FALSE(db_.LastError().empty());
}

TEST_F(DataAccessCore, NumbersSentAsTextReadBackAsIntegersAndNamesMatchInAnyCase) {
    Connect();
    ASSERT_GT(AddDevice("B-side", "5020", "1"), 0);
    ASSERT_GT(AddDevice("A-side"), 0);
    auto set = db_.QueryRecords(conn_, "SELECT * FROM DEVICE ORDER BY DESCRIPTION", true);
    set->First();
    EXPECT_EQ(set->FieldAsString("DESCRIPTION"), "A-side");
    EXPECT_EQ(set->FieldAsInteger("port"), 502);
    EXPECT_EQ(set->FieldAsInteger("Disabled"), 0);
    EXPECT_EQ(set->FieldAsString("ID"), "2");
    set->Next();
    EXPECT_EQ(set->FieldAsInteger("PORT"), 5020);
    EXPECT_EQ(set->FieldAsInteger("DISABLED"), 1);
    set->Next();
    EXPECT_TRUE(set->Eof());
}

TEST_F(DataAccessCore, AggregateColumnReadsAsItsFunctionName) {
    Connect();
    auto empty = db_.QueryRecords(conn_, "SELECT MAX(ID) FROM I_O_SETTING", true);
    empty->First();
    ASSERT_FALSE(empty->Eof());
    EXPECT_EQ(empty->FieldAsInteger("MAX"), 0);  // NULL on an empty table
    AddRegister("1", "Level", "T1");
    AddRegister("1", "Flow", "T2");
    db_.DeleteRecords(conn_, "I_O_SETTING", "ID = 2", true);
    AddRegister("1", "Speed", "T3");
    auto set = db_.QueryRecords(conn_, "SELECT MAX(ID) FROM I_O_SETTING", true);
    set->First();
    EXPECT_EQ(set->FieldAsInteger("MAX"), 3);  // identifiers only grow
    EXPECT_EQ(set->FieldAsInteger("max"), 3);
}

TEST_F(DataAccessCore, SingleQuotesSurviveInsertAndDoubledQuotesInComposedStatements) {
    Connect();
    const std::string tag = "O'Brien's tag";
    ASSERT_GT(AddRegister("1", "Pump's level", tag), 0);
    EXPECT_EQ(Column("SELECT * FROM I_O_SETTING", "TAG_NAME"), std::vector<std::string>{tag});

    EXPECT_EQ(db_.QueryIfRecordExists(
                  conn_, "SELECT TAG_NAME FROM I_O_SETTING WHERE TAG_NAME = 'O''Brien''s tag' AND ID <> 0", true),
              1);
    EXPECT_EQ(db_.QueryIfRecordExists(
                  conn_, "SELECT TAG_NAME FROM I_O_SETTING WHERE TAG_NAME = 'O''Brien''s tag' AND ID <> 1", true),
              0);
    EXPECT_EQ(db_.UpdateRecords(conn_,
                                "UPDATE I_O_SETTING SET DESCRIPTION = 'It''s new', REGISTER_NO = '41', "
                                "REGISTER_TYPE = '1', TAG_NAME = 'x''y' WHERE ID = 1",
                                true),
              1);
    auto set = db_.QueryRecords(conn_, "SELECT * FROM I_O_SETTING WHERE ID = 1", true);
    set->First();
    EXPECT_EQ(set->FieldAsString("DESCRIPTION"), "It's new");
    EXPECT_EQ(set->FieldAsInteger("REGISTER_NO"), 41);
    EXPECT_EQ(set->FieldAsInteger("REGISTER_TYPE"), 1);
    EXPECT_EQ(set->FieldAsString("TAG_NAME"), "x'y");
}

TEST_F(DataAccessCore, UpdateAndDeleteReportWhetherARowWasHit) {
    Connect();
    AddDevice("Pump");
    EXPECT_EQ(db_.UpdateRecords(conn_, "UPDATE DEVICE SET DISABLED = 1 WHERE ID = 1", true), 1);
    EXPECT_EQ(db_.UpdateRecords(conn_, "UPDATE DEVICE SET DISABLED = 1 WHERE ID = 7", true), 0);
    EXPECT_EQ(db_.DeleteRecords(conn_, "DEVICE", "ID = 7", true), 0);
    EXPECT_EQ(db_.DeleteRecords(conn_, "DEVICE", "ID = 1", true), 1);
    EXPECT_TRUE(db_.QueryRecords(conn_, "SELECT * FROM DEVICE", true)->Eof());
}

TEST_F(DataAccessCore, UnsafeNamesAndSmuggledStatementsAreRefusedAndChangeNothing) {
    Connect();
    AddDevice("Pump");
    EXPECT_EQ(db_.InsertRecord(conn_, "DEVICE; DROP TABLE DEVICE", {"DESCRIPTION"}, {"x"}, true), 0);
    EXPECT_EQ(db_.InsertRecord(conn_, "DEVICE", {"DESCRIPTION) VALUES ('x'); --"}, {"x"}, true), 0);
    EXPECT_EQ(db_.InsertRecord(conn_, "DEVICE", {"DESCRIPTION", "PORT"}, {"x"}, true), 0);
    EXPECT_EQ(db_.UpdateRecords(conn_, "UPDATE DEVICE SET PORT = '1' WHERE ID = 1; DELETE FROM DEVICE", true), 0);
    const char hidden[] = "UPDATE DEVICE SET PORT = '1' WHERE ID = 1\0; DELETE FROM DEVICE";
    EXPECT_EQ(db_.UpdateRecords(conn_, std::string(hidden, sizeof hidden - 1), true), 0);
    EXPECT_EQ(db_.DeleteRecords(conn_, "DEVICE", "  ", true), 0);
    EXPECT_EQ(db_.DeleteRecords(conn_, "DEVICE WHERE 1 = 1 OR ID", "ID = 1", true), 0);
    auto set = db_.QueryRecords(conn_, "SELECT * FROM DEVICE", true);
    set->First();
    ASSERT_FALSE(set->Eof());
    EXPECT_EQ(set->FieldAsInteger("PORT"), 502);
    set->Next();
    EXPECT_TRUE(set->Eof());
}

TEST_F(DataAccessCore, MissingFieldAndUnreadableIntegerAreErrors) {
    Connect();
    AddDevice("Pump", "not a port");
    auto set = db_.QueryRecords(conn_, "SELECT * FROM DEVICE", true);
    set->First();
    try {
        set->FieldAsString("NAME");
        FAIL() << "no error for a missing field";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Field 'NAME' not found");
    }
    EXPECT_THROW(set->FieldAsInteger("NAME"), EDatabaseError);
    EXPECT_THROW(set->FieldAsInteger("PORT"), EDatabaseError);
    EXPECT_EQ(set->FieldAsString("PORT"), "not a port");
    // Empty and NULL read as 0, a number with blanks around it as that number.
    db_.UpdateRecords(conn_, "UPDATE DEVICE SET PORT = '', UNIT_ID = NULL, DISABLED = ' 12 ' WHERE ID = 1", true);
    set = db_.QueryRecords(conn_, "SELECT * FROM DEVICE", true);
    set->First();
    EXPECT_EQ(set->FieldAsInteger("PORT"), 0);
    EXPECT_EQ(set->FieldAsInteger("UNIT_ID"), 0);
    EXPECT_EQ(set->FieldAsString("UNIT_ID"), "");
    EXPECT_EQ(set->FieldAsInteger("DISABLED"), 12);
}

TEST_F(DataAccessCore, FailingStatementsCarryTheEnginesMessage) {
    Connect();
    try {
        db_.QueryRecords(conn_, "SELECT * FROM NO_SUCH_TABLE", true);
        FAIL() << "no error for a bad statement";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("no such table"), std::string::npos) << e.what();
    }
    EXPECT_EQ(db_.QueryIfRecordExists(conn_, "SELECT FROM", true), 0);
    EXPECT_EQ(db_.UpdateRecords(conn_, "UPDATE NO_SUCH_TABLE SET A = 1", true), 0);
    EXPECT_NE(db_.LastError().find("no such table"), std::string::npos) << db_.LastError();
    EXPECT_THROW(db_.QueryRecords(conn_ + 1, "SELECT * FROM DEVICE", true), EDatabaseError);
    EXPECT_EQ(db_.InsertRecord(conn_ + 1, "DEVICE", {"DESCRIPTION"}, {"x"}, true), 0);
}

TEST_F(DataAccessCore, SetsReleasedPartWayOrKeptPastDisconnectLeaveTheFileFree) {
    Connect();
    for (const char* name : {"A", "B", "C"}) AddDevice(name);
    auto partWay = db_.QueryRecords(conn_, "SELECT * FROM DEVICE ORDER BY DESCRIPTION", true);
    partWay->First();
    EXPECT_EQ(partWay->FieldAsString("DESCRIPTION"), "A");
    partWay.reset();
    auto kept = db_.QueryRecords(conn_, "SELECT * FROM DEVICE ORDER BY DESCRIPTION", true);
    EXPECT_GT(AddDevice("D"), 0);  // the database is not held busy by an open set
    db_.DisconnectDB(conn_, true);
    conn_ = 0;
    kept->First();
    kept->Next();
    EXPECT_EQ(kept->FieldAsString("DESCRIPTION"), "B");
    kept.reset();
    // Closed for real: the file can be replaced.
    fs::remove(path_);
    EXPECT_FALSE(fs::exists(path_));
}

}  // namespace
