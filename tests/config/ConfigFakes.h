// Stand-ins for the views, the message box, the cipher and the registry, over a real configuration
// database in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>

#include "config/Configuration.h"
#include "config/DeviceSetting.h"
#include "config/IOSetting.h"
#include "config/RunKey.h"
#include "config/SettingDialogs.h"
#include "libs/General.h"
#include "libs/Security.h"
#include "tags/TagTable.h"
#include "vxDataAccess/DirectDataAccess.h"

#include <sqlite3.h>

namespace tw::test {

using Strings = std::vector<std::string>;

// Message boxes answered from a queue (OK when empty); the settings file as "section/key" -> text.
struct FakeGeneral : IGeneral {
    Strings shown;
    std::vector<int> kinds;
    std::deque<int> answers;
    std::map<std::string, std::string> file;

    bool Loaded() const override { return true; }
    int ShowMsg(const std::string& text, int kind, int, int) override {
        shown.push_back(text);
        kinds.push_back(kind);
        if (answers.empty()) return 1;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::string GetInitSettingStr(const std::string& s, const std::string& k, const std::string& f,
                                  const std::string& d) override {
        auto it = file.find(Key(s, k, f));
        return it == file.end() ? d : it->second;
    }
    bool GetInitSettingBool(const std::string& s, const std::string& k, const std::string& f, bool d) override {
        return GetInitSettingStr(s, k, f, d ? "1" : "0") == "1";
    }
    void SetInitSettingStr(const std::string& s, const std::string& k, const std::string& v,
                           const std::string& f) override {
        file[Key(s, k, f)] = v;
    }
    void SetInitSettingBool(const std::string& s, const std::string& k, bool v, const std::string& f) override {
        SetInitSettingStr(s, k, v ? "1" : "0", f);
    }
    void AddLog(const std::string&, const std::string&) override {}
    static std::string Key(const std::string& s, const std::string& k, const std::string& f) {
        EXPECT_EQ(f, "Tarnowick.ini");
        return s + "/" + k;
    }
};

struct FakeSecurity : ISecurity {
    bool encryptFails = false;
    bool Loaded() const override { return true; }
    std::optional<std::string> Encrypt(const std::string& t) override {
        return encryptFails ? std::nullopt : std::optional<std::string>("enc:" + t);
    }
    std::optional<std::string> Decrypt(const std::string& t) override {
        if (t.empty()) return std::string();
        return t.rfind("enc:", 0) == 0 ? std::optional<std::string>(t.substr(4)) : std::nullopt;
    }
};

// fails: every change is refused, as for a user without the rights to the key; reading still works.
struct FakeRunKey : IRunKey {
    std::map<std::string, std::string> values;  // "key\name" -> data
    bool fails = false;
    std::optional<std::string> ReadString(const std::string& key, const std::string& name) override {
        const auto found = values.find(key + "\\" + name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    }
    bool WriteString(const std::string& key, const std::string& name, const std::string& data) override {
        if (!fails) values[key + "\\" + name] = data;
        return !fails;
    }
    bool DeleteValue(const std::string& key, const std::string& name) override {
        if (!fails) values.erase(key + "\\" + name);
        return !fails;
    }
};

struct FakeSettingsView : ISystemSettingsView {
    std::map<TSettingsBox, bool> boxes;
    std::map<TPasswordEdit, std::string> edits;
    bool passwordEnabled = true, focused = false;
    bool Checked(TSettingsBox b) const override { return boxes.count(b) && boxes.at(b); }
    void SetChecked(TSettingsBox b, bool c) override { boxes[b] = c; }
    std::string Text(TPasswordEdit e) const override { return edits.count(e) ? edits.at(e) : ""; }
    void SetText(TPasswordEdit e, const std::string& t) override { edits[e] = t; }
    void SetPasswordControlsEnabled(bool e) override { passwordEnabled = e; }
    void FocusPassword() override { focused = true; }
};

struct FakePageView : ISettingsPageView {
    Strings items;
    TDeviceDetails details;
    std::vector<TGridRow> rows;
    bool active = true;
    void SetDeviceItems(const Strings& i) override { items = i; }
    void SetDeviceDetails(const TDeviceDetails& d) override { details = d; }
    void SetGridRows(const std::vector<TGridRow>& r, int) override { rows = r; }
    void SetGridCell(int r, int c, const std::string& t) override { rows.at(r).at(c) = t; }
    bool SettingsPageActive() const override { return active; }
};

// Each attempt is the operator typing fields and pressing OK (or Cancel when empty); OK goes through
// bbOKClick as in the real dialog, and a refused OK takes the next attempt.
struct FakeDialogs : ISettingDialogs {
    std::deque<std::optional<TDeviceFields>> device;
    std::deque<std::optional<TRegisterFields>> io;
    std::vector<TDeviceFields> deviceShown;  // the fields each dialog opened with
    std::vector<TRegisterFields> ioShown;

    bool ShowDeviceSetting(TfrmDeviceSetting& d) override {
        deviceShown.push_back(d.Fields);
        return Run(device, d);
    }
    bool ShowIOSetting(TfrmIOSetting& d) override {
        ioShown.push_back(d.Fields);
        return Run(io, d);
    }
    template <class Queue, class Dialog>
    static bool Run(Queue& attempts, Dialog& d) {
        for (; !attempts.empty() && attempts.front(); attempts.pop_front()) {
            d.Fields = *attempts.front();
            if (d.bbOKClick()) return attempts.pop_front(), true;
        }
        if (!attempts.empty()) attempts.pop_front();
        return false;
    }
};

struct TempDatabase {
    DirectDataAccess access;
    DbConnection conn = 0;
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tw-config-" + std::to_string(std::random_device{}()));
    TempDatabase() {
        std::filesystem::create_directories(dir);
        conn = access.ConnectDB((dir / "TARNOWICK.GDB").string(), "SYSDBA", "", 0, true);
    }
    // The database becomes a file made by the given statements alone (as an earlier version left it),
    // then connected as the program connects it.
    void ReplaceWith(const std::string& sql) {
        access.DisconnectDB(conn, true);
        const std::string path = (dir / "TARNOWICK.GDB").string();
        std::filesystem::remove(path);
        sqlite3* file = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &file), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(file, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(file);
        sqlite3_close(file);
        conn = access.ConnectDB(path, "SYSDBA", "", 0, true);
    }
    ~TempDatabase() {
        access.DisconnectDB(conn, true);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// The configuration as the shell puts it together; steps records log lines and hooks in order.
struct ConfigFixture : ::testing::Test {
    TempDatabase db;
    FakeGeneral general;
    FakeSecurity security;
    FakeRunKey runKey;
    FakeSettingsView settingsView;
    FakePageView pageView;
    FakeDialogs dialogs;
    TModBusObjList devices;
    int selectedRow = 0;
    Strings steps;
    TConfiguration cfg{{db.access, [this] { return db.conn; }, general, security, runKey, settingsView, pageView,
                        dialogs, devices, "C:\\Gw\\", selectedRow},
                       {[this](const std::string& t) { steps.push_back("log " + t); },
                        [this] { steps.push_back("stop"); }, [this] { steps.push_back("start"); },
                        [this](const std::string& t) { steps.push_back("caption " + t); },
                        [this] { steps.push_back("hide"); },
                        [this](bool on) { steps.push_back(on ? "logfile on" : "logfile off"); }, {}}};
    TConfigDatabase& data = cfg.Database();
    TSettingsPage& page = cfg.Page();

    void SetUp() override { ResetTagTable(); }
    void TearDown() override { ResetTagTable(); }

    void Exec(const std::string& sql) { ASSERT_GT(db.access.UpdateRecords(db.conn, sql, true), 0) << sql; }
    int64_t Count(const std::string& sql) {
        auto rs = db.access.QueryRecords(db.conn, sql, true);
        int64_t n = 0;
        for (rs->First(); !rs->Eof(); rs->Next()) ++n;
        return n;
    }
    int64_t AddDevice(const std::string& desc, const std::string& ip = "127.0.0.1", bool disabled = false) {
        EXPECT_GT(data.InsertDevice({desc, ip, "502", "1", disabled}), 0);
        return Count("SELECT * FROM DEVICE");  // no device is deleted before the last is added
    }
    int64_t AddRegister(int64_t device, const std::string& desc, const std::string& tag, int type = 0,
                        const std::string& no = "1") {
        EXPECT_GT(data.InsertRegister(device, {desc, no, type, tag}), 0);
        return data.MaxRegisterId();
    }
    void Select(const std::string& desc) {
        for (std::size_t i = 0; i < pageView.items.size(); ++i)
            if (pageView.items[i].rfind(desc + " - ", 0) == 0) return page.lbxDevicesClick(static_cast<int>(i));
        FAIL() << "no entry " << desc;
    }
    Strings Column(int c) const {
        Strings out;
        for (std::size_t r = 1; r < page.Grid().size(); ++r) out.push_back(page.Grid()[r][c]);
        return out;
    }
};

}  // namespace tw::test
