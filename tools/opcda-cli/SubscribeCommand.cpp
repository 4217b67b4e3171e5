#include "SubscribeCommand.h"

#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Apartment.h"
#include "opc/ComText.h"
#include "opc/DataChangeSink.h"
#include "values/Quality.h"

namespace tw::opcda_cli {
namespace {

using opc::Narrow;

// Prints each reported item at once, so a reader of the output sees updates while they come.
class TUpdatePrinter final : public opc::TDataChangeSink {
public:
    TUpdatePrinter(std::vector<std::string> names, std::vector<std::string> units, bool json)
        : names_(std::move(names)), units_(std::move(units)), json_(json) {}

    // Lives on the command's stack; the count only keeps COM's bookkeeping honest.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                           OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                           FILETIME* pftTimeStamps, HRESULT* pErrors) override {
        ++dataChanges;
        for (DWORD i = 0; i < dwCount; ++i)
            Print(dwTransid, phClientItems[i], pvValues[i], pwQualities[i], pftTimeStamps[i], pErrors[i]);
        std::fflush(stdout);
        return S_OK;
    }

    long long dataChanges = 0;
    long long updates = 0;

private:
    void Print(DWORD transid, OPCHANDLE client, const VARIANT& value, WORD quality, const FILETIME& stamp,
               HRESULT error) {
        ++updates;
        // Client handles are 1-based positions in the item list.
        const std::string name = client >= 1 && client <= names_.size() ? names_[client - 1] : std::to_string(client);
        const std::string shown = VariantText(value, 0x409);
        const std::string units = client >= 1 && client <= units_.size() ? units_[client - 1] : "";
        if (json_) {
            std::printf("{\"event\":\"dataChange\",\"transid\":%lu,\"item\":\"%s\",\"value\":\"%s\",\"vt\":%u,"
                        "%s\"quality\":%u,\"qualityName\":\"%s\",\"time\":\"%s\",\"error\":\"%s\"}\n",
                        static_cast<unsigned long>(transid), JsonEscape(name).c_str(), JsonEscape(shown).c_str(),
                        static_cast<unsigned>(value.vt),
                        units.empty() ? "" : ("\"units\":\"" + JsonEscape(units) + "\",").c_str(),
                        static_cast<unsigned>(quality), QualityName(quality).c_str(), UtcText(stamp).c_str(),
                        HexCode(error).c_str());
        } else {
            std::printf("%s value=%s%s quality=%s time=%s%s\n", name.c_str(), shown.c_str(),
                        units.empty() ? "" : (" units=" + units).c_str(), QualityText(quality).c_str(),
                        UtcText(stamp).c_str(), error == S_OK ? "" : (" error=" + HexCode(error)).c_str());
        }
    }

    std::vector<std::string> names_;
    std::vector<std::string> units_;
    bool json_;
    ULONG refs_ = 0;
};

std::string Option(const TCommand& c, const char* key, const char* fallback) {
    auto it = c.options.find(key);
    return it == c.options.end() ? std::string(fallback) : it->second;
}

}  // namespace

bool IsSubscribeCommand(const std::string& word, size_t* positional) {
    if (word != "subscribe") return false;
    if (positional) *positional = 1;
    return true;
}

bool SubscribeOptionTakesValue(const std::string& option) { return option == "--duration"; }

TResult RunSubscribe(TSession& session, TItemCommands& items, const TCommand& c, bool json) {
    TResult r;
    r.command = "subscribe";
    const std::vector<std::string> names = SplitList(c.args[0]);
    const std::string rate = Option(c, "--rate", "1000");
    const double seconds = std::strtod(Option(c, "--duration", "0").c_str(), nullptr);
    if (names.empty()) {
        r.hr = E_INVALIDARG;
        return r;
    }
    // An active group of this session with the items, added as add-group and add do it: the items'
    // client handles are then 1, 2, ... in the order named.
    const std::string group = "subscribe-" + std::to_string(GetCurrentProcessId());
    TCommand step{"add-group", {group}, {{"--rate", rate}}};
    TResult added = session.Run(step);
    r.numbers = added.numbers;
    r.hr = added.hr;
    if (FAILED(r.hr)) return r;
    step = TCommand{"add", {group, c.args[0]}, {}};
    added = items.Run(step);
    r.list = added.list;
    r.hr = added.hr;

    TUpdatePrinter printer(names, items.Units(group), json);
    if (SUCCEEDED(r.hr)) {
        TSinkLink link(session.Group(group), IID_IOPCDataCallback, &printer);
        r.hr = link.Result();
        if (SUCCEEDED(r.hr)) {
            if (!json) std::printf("subscribed to %zu item(s)\n", names.size());
            std::fflush(stdout);
            PumpUntil([] { return false; }, seconds > 0.0 ? seconds : -1.0);  // 0: until stopped
        }
    }
    step = TCommand{"remove-group", {group}, {{"--force", ""}}};
    session.Run(step);
    r.numbers.emplace_back("dataChanges", printer.dataChanges);
    r.numbers.emplace_back("updates", printer.updates);
    return r;
}

}  // namespace tw::opcda_cli
