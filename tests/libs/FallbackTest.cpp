// Libraries that do not load: the plain box names each one, and every adapter answers gracefully.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "TestFolder.h"
#include "libs/SiblingLibraries.h"

namespace {

struct TBox {
    std::string text, caption;
    unsigned type;
};

class Fallback : public ::testing::Test {
protected:
    // Answers every plain box with the next of answers_ (IDOK when none is left).
    tw::TPlainBox Recorder() {
        return [this](const std::string& text, const std::string& caption, unsigned type) {
            boxes_.push_back({text, caption, type});
            if (answers_.empty()) return IDOK;
            int answer = answers_.front();
            answers_.erase(answers_.begin());
            return answer;
        };
    }

    std::vector<TBox> boxes_;
    std::vector<int> answers_;
};

TEST_F(Fallback, EachMissingLibraryIsNamedAndStartUpGoesOn) {
    tw::SiblingLibraries libs("C:\\no\\such\\folder", Recorder());
    libs.LoadOpcData();
    libs.LoadDataAccess();
    libs.LoadGeneral();
    libs.LoadSecurity();
    ASSERT_EQ(boxes_.size(), 4u);
    const char* names[] = {"vxOpcData.dll", "vxDataAccess.dll", "vxGeneral.dll", "vxSecurity.dll"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(boxes_[i].text, std::string(names[i]) + " not loaded!");
        EXPECT_EQ(boxes_[i].caption, "Tarnowick");
        EXPECT_EQ(boxes_[i].type, unsigned(MB_OK));
    }
    EXPECT_FALSE(libs.OpcDataLoaded());
    EXPECT_FALSE(libs.DataAccess().Loaded());
    EXPECT_FALSE(libs.General().Loaded());
    EXPECT_FALSE(libs.Security().Loaded());
}

TEST_F(Fallback, ADllWithoutTheEntriesCountsAsNotLoaded) {
    twtest::TScratchFolder folder("tw-fallback");
    // Some other DLL under the expected name: it loads, but its entries are not there.
    std::filesystem::copy_file(twtest::ExeFolder() / "vxOpcData.dll", folder.Path() / "vxGeneral.dll");
    {
        tw::SiblingLibraries libs(folder.Path().string(), Recorder());
        libs.LoadGeneral();
        EXPECT_FALSE(libs.General().Loaded());
    }
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "vxGeneral.dll not loaded!");
}

TEST_F(Fallback, AdaptersAnswerEveryCallGracefully) {
    tw::SiblingLibraries libs("C:\\no\\such\\folder", Recorder());
    libs.LoadDataAccess();
    libs.LoadGeneral();
    libs.LoadSecurity();
    boxes_.clear();

    tw::IDataAccess& db = libs.DataAccess();
    EXPECT_EQ(db.ConnectDB("C:\\TARNOWICK.GDB", "SYSDBA", "x", 0, true), 0u);
    auto set = db.QueryRecords(0, "SELECT * FROM DEVICE", true);
    set->First();
    EXPECT_TRUE(set->Eof());
    EXPECT_EQ(db.QueryIfRecordExists(0, "SELECT * FROM DEVICE", true), 0);
    EXPECT_EQ(db.InsertRecord(0, "DEVICE", {"DESCRIPTION"}, {"x"}, true), 0);
    EXPECT_EQ(db.UpdateRecords(0, "UPDATE DEVICE SET PORT = 1", true), 0);
    EXPECT_EQ(db.DeleteRecords(0, "DEVICE", "ID = 1", true), 0);
    db.DisconnectDB(0, true);

    tw::IGeneral& gen = libs.General();
    // The build's own settings file may be there (the demo writes one): it must stay as it is.
    const std::filesystem::path settings = twtest::ExeFolder() / "Tarnowick.ini";
    auto contents = [&settings] {
        std::ifstream file(settings, std::ios::binary);
        return file ? std::string(std::istreambuf_iterator<char>(file), {}) : std::string("(none)");
    };
    const std::string before = contents();
    EXPECT_TRUE(gen.GetInitSettingBool("System", "Log Event", "Tarnowick.ini", true));
    EXPECT_EQ(gen.GetInitSettingStr("Security", "Password", "Tarnowick.ini", "dflt"), "dflt");
    gen.SetInitSettingBool("System", "Log Event", true, "Tarnowick.ini");
    gen.SetInitSettingStr("Security", "Password", "x", "Tarnowick.ini");
    gen.AddLog("text", "C:\\Tarnowick.log");
    EXPECT_EQ(contents(), before);

    tw::ISecurity& sec = libs.Security();
    EXPECT_EQ(sec.Encrypt("secret"), std::nullopt);
    EXPECT_EQ(sec.Decrypt(""), std::nullopt);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(Fallback, ShowMsgFallsBackToThePlainBoxWithTheNearestButtons) {
    tw::SiblingLibraries libs("C:\\no\\such\\folder", Recorder());
    libs.LoadGeneral();
    boxes_.clear();
    tw::IGeneral& gen = libs.General();

    answers_ = {IDOK, IDCANCEL, IDYES, IDNO, IDOK};
    EXPECT_EQ(gen.ShowMsg("Exit?", tw::mkConfirmation, tw::mbYesCancel, 0), tw::mrYes);  // OK means Yes
    EXPECT_EQ(gen.ShowMsg("Exit?", tw::mkConfirmation, tw::mbYesCancel, 0), IDCANCEL);
    EXPECT_EQ(gen.ShowMsg("Delete?", tw::mkConfirmation, tw::mbYesNo, 0), tw::mrYes);
    EXPECT_EQ(gen.ShowMsg("Delete?", tw::mkConfirmation, tw::mbYesNo, 0), IDNO);
    EXPECT_EQ(gen.ShowMsg("Failed", tw::mkError, tw::mbOKOnly, 0), IDOK);
    ASSERT_EQ(boxes_.size(), 5u);
    EXPECT_EQ(boxes_[0].type, unsigned(MB_OKCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(boxes_[0].caption, "Confirmation");
    EXPECT_EQ(boxes_[2].type, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(boxes_[4].type, unsigned(MB_OK | MB_ICONERROR));
    EXPECT_EQ(boxes_[4].text, "Failed");
}

}  // namespace
