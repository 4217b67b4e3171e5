// Stand-ins for the window, the general library and the database, recording what the logic did.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "libs/DataAccess.h"
#include "libs/General.h"
#include "shell/Main.h"

namespace tw::test {

class FakeView : public IMainView {
public:
    std::vector<std::string> lines;
    std::map<int, unsigned> timers;  // enabled timers and their intervals
    std::vector<std::string> calls;
    int page = -1;
    bool visible = false;
    unsigned slept = 0;
    std::function<void()> onProcessMessages;
    int updating = 0, memoUpdates = 0;  // how often the memo control itself would change

    int LineCount() const override { return static_cast<int>(lines.size()); }
    void ClearLines() override { lines.clear(); }
    void AppendLine(const std::string& line) override {
        lines.push_back(line);
        if (updating == 0) ++memoUpdates;
    }
    void BeginUpdate() override { ++updating; }
    void EndUpdate() override {
        if (--updating == 0) ++memoUpdates;
    }
    void SetActivePage(int p) override { page = p; }
    void EnableTimer(int t, unsigned ms) override { timers[t] = ms; }
    void DisableTimer(int t) override { timers.erase(t); }
    bool TimerEnabled(int t) const override { return timers.count(t) != 0; }
    void ShowMainWindow() override { visible = true; calls.push_back("show"); }
    void HideMainWindow() override { visible = false; calls.push_back("hide"); }
    void CloseMainWindow() override { calls.push_back("close"); }
    std::uintptr_t AppHandle() const override { return 0x1234; }
    void SleepMs(unsigned ms) override { slept += ms; }
    void ProcessMessages() override {
        if (onProcessMessages) onProcessMessages();
    }
};

class FakeGeneral : public IGeneral {
public:
    struct Msg {
        std::string text;
        int kind, buttons;
    };
    std::vector<Msg> shown;
    std::deque<int> answers;  // next ShowMsg results; 1 (OK) when empty
    std::vector<std::pair<std::string, std::string>> logged;

    bool Loaded() const override { return true; }
    int ShowMsg(const std::string& text, int kind, int buttons, int) override {
        shown.push_back({text, kind, buttons});
        if (answers.empty()) return 1;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    bool GetInitSettingBool(const std::string&, const std::string&, const std::string&, bool d) override { return d; }
    std::string GetInitSettingStr(const std::string&, const std::string&, const std::string&,
                                  const std::string& d) override {
        return d;
    }
    void SetInitSettingBool(const std::string&, const std::string&, bool, const std::string&) override {}
    void SetInitSettingStr(const std::string&, const std::string&, const std::string&, const std::string&) override {}
    void AddLog(const std::string& text, const std::string& path) override { logged.emplace_back(text, path); }
};

class FakeDataAccess : public IDataAccess {
public:
    std::vector<std::string> calls;
    DbConnection next = 77;

    bool Loaded() const override { return true; }
    DbConnection ConnectDB(const std::string& path, const std::string& user, const std::string& password,
                           std::uintptr_t app, bool flag) override {
        calls.push_back("connect " + path + " " + user + " " + password + " " + std::to_string(app) + " " +
                        std::to_string(flag));
        return next;
    }
    std::unique_ptr<TRecordSet> QueryRecords(DbConnection, const std::string&, bool) override { return nullptr; }
    int QueryIfRecordExists(DbConnection, const std::string&, bool) override { return 0; }
    int InsertRecord(DbConnection, const std::string&, const std::vector<std::string>&,
                     const std::vector<std::string>&, bool) override {
        return 0;
    }
    int UpdateRecords(DbConnection, const std::string&, bool) override { return 0; }
    int DeleteRecords(DbConnection, const std::string&, const std::string&, bool) override { return 0; }
    void DisconnectDB(DbConnection conn, bool flag) override {
        calls.push_back("disconnect " + std::to_string(conn) + " " + std::to_string(flag));
    }
};

}  // namespace tw::test
