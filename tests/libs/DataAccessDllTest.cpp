// vxDataAccess.dll loaded by name through SiblingLibraries, on a real database file.
#include <gtest/gtest.h>

#include "TestFolder.h"
#include "libs/SiblingLibraries.h"

namespace {

using tw::EDatabaseError;

class DataAccessDll : public ::testing::Test {
protected:
    void SetUp() override {
        libs_.LoadDataAccess();
        ASSERT_TRUE(db().Loaded()) << boxes_;
        path_ = (folder_.Path() / "TARNOWICK.GDB").string();
        conn_ = db().ConnectDB(path_, "SYSDBA", "masterkey", 0, true);
        ASSERT_NE(conn_, 0u);
    }
    void TearDown() override {
        if (db().Loaded()) db().DisconnectDB(conn_, true);
    }
    tw::IDataAccess& db() { return libs_.DataAccess(); }
    int AddDevice(const std::string& description) {
        return db().InsertRecord(conn_, "DEVICE", {"DESCRIPTION", "IP_ADDRESS", "PORT", "UNIT_ID", "DISABLED"},
                                 {description, "127.0.0.1", "502", "1", "0"}, true);
    }

    twtest::TScratchFolder folder_{"tw-dadll"};
    std::string boxes_;
    tw::SiblingLibraries libs_{"", [this](const std::string& text, const std::string&, unsigned) {
                                   boxes_ += text;
                                   return IDOK;
                               }};
    std::string path_;
    tw::DbConnection conn_ = 0;
};

TEST_F(DataAccessDll, EveryOperationThroughTheDll) {
    EXPECT_TRUE(std::filesystem::exists(path_));
    ASSERT_EQ(AddDevice("Tank's pump"), 1);
    ASSERT_EQ(db().InsertRecord(conn_, "I_O_SETTING",
                                {"DEVICE_ID", "DESCRIPTION", "REGISTER_NO", "TAG_NAME", "REGISTER_TYPE"},
                                {"1", "Level", "40", "Tank'Level", "0"}, true),
              1);
    EXPECT_EQ(db().QueryIfRecordExists(
                  conn_, "SELECT TAG_NAME FROM I_O_SETTING WHERE TAG_NAME = 'Tank''Level' AND ID <> 0", true),
              1);
    EXPECT_EQ(db().UpdateRecords(conn_,
                                 "UPDATE DEVICE SET DESCRIPTION = 'It''s a pump', IP_ADDRESS = '10.0.0.1', "
                                 "PORT = '503', UNIT_ID = '2', DISABLED = 1 WHERE ID = 1",
                                 true),
              1);
    {
        auto set = db().QueryRecords(conn_, "SELECT * FROM DEVICE WHERE ID = 1", true);
        set->First();
        ASSERT_FALSE(set->Eof());
        EXPECT_EQ(set->FieldAsString("DESCRIPTION"), "It's a pump");
        EXPECT_EQ(set->FieldAsInteger("port"), 503);
        EXPECT_EQ(set->FieldAsInteger("DISABLED"), 1);
        set->Next();
        EXPECT_TRUE(set->Eof());
    }
    auto max = db().QueryRecords(conn_, "SELECT MAX(ID) FROM I_O_SETTING", true);
    max->First();
    EXPECT_EQ(max->FieldAsInteger("MAX"), 1);
    EXPECT_EQ(db().DeleteRecords(conn_, "I_O_SETTING", "ID = 1", true), 1);
    EXPECT_EQ(db().DeleteRecords(conn_, "I_O_SETTING", "ID = 1", true), 0);
    EXPECT_EQ(db().InsertRecord(conn_, "DEVICE; DROP TABLE DEVICE", {"DESCRIPTION"}, {"x"}, true), 0);
}

TEST_F(DataAccessDll, ErrorsCrossTheBoundaryAsTextNotExceptions) {
    AddDevice("Pump");
    auto set = db().QueryRecords(conn_, "SELECT * FROM DEVICE", true);
    set->First();
    try {
        set->FieldAsInteger("NAME");
        FAIL() << "no error for a missing field";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Field 'NAME' not found");
    }
    try {
        db().QueryRecords(conn_, "SELECT * FROM NO_SUCH_TABLE", true);
        FAIL() << "no error for a bad statement";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("no such table"), std::string::npos) << e.what();
    }
    EXPECT_EQ(db().UpdateRecords(conn_, "UPDATE NO_SUCH_TABLE SET A = 1", true), 0);
    EXPECT_EQ(db().QueryIfRecordExists(conn_ + 8, "SELECT * FROM DEVICE", true), 0);  // not a connection
}

TEST_F(DataAccessDll, SetsReleasedPartWayAndSetsOutlivingTheLibraryStayUsable) {
    for (const char* name : {"A", "B", "C"}) AddDevice(name);
    auto partWay = db().QueryRecords(conn_, "SELECT * FROM DEVICE ORDER BY DESCRIPTION", true);
    partWay->First();
    partWay.reset();
    auto kept = db().QueryRecords(conn_, "SELECT * FROM DEVICE ORDER BY DESCRIPTION", true);
    db().DisconnectDB(conn_, true);
    libs_.Release();  // the set holds the DLL until it goes
    EXPECT_FALSE(db().Loaded());
    kept->First();
    kept->Next();
    EXPECT_EQ(kept->FieldAsString("DESCRIPTION"), "B");
    kept.reset();
    EXPECT_TRUE(std::filesystem::remove(path_));  // nothing holds the file open any more
}

}  // namespace
