// The server console's logic with a recording view: counts, refreshes while open, and the shutdown
// request to the chosen client.
#include <gtest/gtest.h>

#include "../FakeGeneral.h"
#include "../FakeRegistry.h"
#include "TagFixture.h"
#include "opc/server/opcSvConsole.h"

namespace tw::opc {
namespace {

using test::ShutdownPoint;
using test::TShutdownSink;

class TRecordingView final : public IServerConsoleView {
public:
    void SetCounts(const std::string& c, const std::string& g) override {
        clients = c;
        groups = g;
    }
    void EnableShutdownRequest(bool enabled) override { shutdownEnabled = enabled; }
    void CloseConsole() override { closed = true; }
    int ChooseServerToShutdown(const std::vector<TShutDownEntry>& entries) override {
        offered.clear();
        for (const auto& e : entries) offered.push_back(e.text);
        return choice;
    }
    void ShowPlainMessage(const std::string& text) override { messages.push_back(text); }

    std::string clients = "?", groups = "?";
    bool shutdownEnabled = true, closed = false;
    int choice = -1;
    std::vector<std::string> offered, messages;
};

class TSilentGeneral final : public test::TStubGeneral {
public:
    int ShowMsg(const std::string&, int, int, int) override { return 0; }
};

class Console : public test::TagServer {
protected:
    IUnknown* AddGroup(IOPCServer* server, const wchar_t* name) {
        OPCHANDLE h = 0;
        DWORD rate = 0;
        IUnknown* g = nullptr;
        EXPECT_TRUE(SUCCEEDED(server->AddGroup(name, TRUE, 100, 1, nullptr, nullptr, 0, &h, &rate, IID_IUnknown, &g)));
        return g;
    }
    TRecordingView view;
    TSilentGeneral general;
    test::TFakeRegistry registry;
    TfrmOPCServerConsole form{view, general, registry};
};

TEST_F(Console, ShowsClientsAndGroupsAndFollowsTheirChanges) {
    {
        TOpenConsole open(form);
        form.FormShow();
        EXPECT_EQ(view.clients, "0");
        EXPECT_EQ(view.groups, "0");
        EXPECT_FALSE(view.shutdownEnabled);

        IOPCServer* first = NewServer<IOPCServer>(IID_IOPCServer);
        IOPCServer* second = NewServer<IOPCServer>(IID_IOPCServer);
        EXPECT_EQ(view.clients, "2");
        EXPECT_TRUE(view.shutdownEnabled);
        IUnknown* groups[3] = {AddGroup(first, L"A"), AddGroup(first, L"B"), AddGroup(second, L"C")};
        EXPECT_EQ(view.clients, "2");
        EXPECT_EQ(view.groups, "3");
        groups[0]->Release();  // the group ends: one fewer
        EXPECT_EQ(view.groups, "2");
        groups[1]->Release();
        groups[2]->Release();
        servers[0]->Release();
        servers.erase(servers.begin());
        EXPECT_EQ(view.clients, "1");
        EXPECT_EQ(view.groups, "0");
    }
    // Closed: changes no longer reach it.
    NewServer<IOPCServer>(IID_IOPCServer);
    EXPECT_EQ(view.clients, "1");
    form.CloseBtnClick();
    EXPECT_TRUE(view.closed);
}

TEST_F(Console, ShutdownRequestGoesToTheChosenSlotOnly) {
    IOPCServer* first = NewServer<IOPCServer>(IID_IOPCServer);
    IOPCServer* second = NewServer<IOPCServer>(IID_IOPCServer);
    (void)first;
    TShutdownSink sink, mute;
    mute.answersShutdown = false;
    DWORD cookie = 0;

    view.choice = 0;  // a client that advised nothing: nothing is sent, nothing shown
    form.SDButtonClick();
    EXPECT_EQ(view.offered, (std::vector<std::string>{"1", "2"}));
    EXPECT_TRUE(view.messages.empty());

    IConnectionPoint* cp = ShutdownPoint(second);
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    view.choice = -1;  // Cancel
    form.SDButtonClick();
    EXPECT_TRUE(sink.reasons.empty());
    view.choice = 1;
    form.SDButtonClick();
    EXPECT_EQ(sink.reasons, std::vector<std::wstring>{L"Velmora Tarnowick IOPCShutdown request."});
    EXPECT_TRUE(view.messages.empty());

    ASSERT_EQ(cp->Unadvise(cookie), S_OK);
    ASSERT_EQ(cp->Advise(&mute, &cookie), S_OK);
    form.SDButtonClick();
    EXPECT_EQ(view.messages, std::vector<std::string>{"The client does not support IOPCShutdown."});
    ASSERT_EQ(cp->Unadvise(cookie), S_OK);
    cp->Release();

    view.choice = 7;  // a slot emptied while the dialog was open
    form.SDButtonClick();
    EXPECT_EQ(view.messages.size(), 1u);
}

}  // namespace
}  // namespace tw::opc
