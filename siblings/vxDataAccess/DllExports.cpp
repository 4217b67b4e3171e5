// vxDataAccess.dll: the C entries over TSqliteDatabase. Every entry catches everything, so no C++
// exception leaves the DLL; failures come back as 0 with the reason in LastDBError.
#include <windows.h>

#include <set>
#include <type_traits>

#include "libs/DataAccessAbi.h"
#include "vxDataAccess/SqliteDatabase.h"

struct VxRecordSet {
    std::unique_ptr<vxda::TResultTable> table;
};

namespace {

std::string g_lastError;
// Handles given out and not yet disconnected: a stale or made-up handle is refused, not dereferenced.
std::set<vxda::TSqliteDatabase*> g_connections;

vxda::TSqliteDatabase* Connection(intptr_t conn) {
    auto* db = reinterpret_cast<vxda::TSqliteDatabase*>(conn);
    if (g_connections.count(db) == 0) throw tw::EDatabaseError("Database not connected");
    return db;
}

// The program passes paths in the ANSI code page; SQLite wants UTF-8.
std::string AnsiToUtf8(const char* text) {
    int wide = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (wide <= 0) return text;
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &w[0], wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    utf8.resize(bytes > 0 ? bytes - 1 : 0);
    return utf8;
}

const char* Text(const char* s) { return s ? s : ""; }

template <class Body>
auto Guarded(Body&& body, decltype(body()) failed) noexcept -> decltype(body()) {
    try {
        g_lastError.clear();
        return body();
    } catch (const std::exception& e) {
        g_lastError = e.what();
    } catch (...) {
        g_lastError = "Unexpected failure in vxDataAccess";
    }
    return failed;
}

// The int operations keep the engine's reason in the connection; surface it here too.
int Outcome(vxda::TSqliteDatabase* db, int result) {
    g_lastError = db->LastError();
    return result;
}

}  // namespace

extern "C" {

intptr_t ConnectDB(const char* path, const char*, const char*, intptr_t, int) {
    return Guarded(
        [&] {
            auto db = vxda::TSqliteDatabase::Open(AnsiToUtf8(Text(path)));
            g_connections.insert(db.get());
            return reinterpret_cast<intptr_t>(db.release());
        },
        intptr_t{0});
}

void DisconnectDB(intptr_t conn, int) {
    Guarded(
        [&] {
            vxda::TSqliteDatabase* db = Connection(conn);
            g_connections.erase(db);
            delete db;
            return 0;
        },
        0);
}

int QueryRecords(intptr_t conn, const char* sql, VxRecordSet** set, int) {
    return Guarded(
        [&] {
            if (set == nullptr) throw tw::EDatabaseError("No place for the result set");
            *set = nullptr;
            auto table = Connection(conn)->Query(Text(sql));
            *set = new VxRecordSet{std::move(table)};
            return 1;
        },
        0);
}

int QueryIfRecordExists(intptr_t conn, const char* sql, int) {
    return Guarded([&] { auto* db = Connection(conn); return Outcome(db, db->RecordExists(Text(sql))); }, 0);
}

int InsertRecord(intptr_t conn, const char* table, const char* const* fields, const char* const* values, int count,
                 int) {
    return Guarded(
        [&] {
            auto* db = Connection(conn);
            if (count < 0 || (count > 0 && (fields == nullptr || values == nullptr)))
                throw tw::EDatabaseError("Invalid field or value list");
            std::vector<std::string> f, v;
            for (int i = 0; i < count; ++i) {
                f.emplace_back(Text(fields[i]));
                v.emplace_back(Text(values[i]));
            }
            return Outcome(db, db->Insert(Text(table), f, v));
        },
        0);
}

int UpdateRecords(intptr_t conn, const char* sql, int) {
    return Guarded([&] { auto* db = Connection(conn); return Outcome(db, db->Execute(Text(sql))); }, 0);
}

int DeleteRecords(intptr_t conn, const char* table, const char* condition, int) {
    return Guarded(
        [&] { auto* db = Connection(conn); return Outcome(db, db->Delete(Text(table), Text(condition))); }, 0);
}

const char* LastDBError(void) { return g_lastError.c_str(); }

void RsFirst(VxRecordSet* set) {
    if (set) set->table->First();
}

int RsEof(const VxRecordSet* set) { return set ? set->table->Eof() : 1; }

void RsNext(VxRecordSet* set) {
    if (set) set->table->Next();
}

int RsFieldAsInteger(const VxRecordSet* set, const char* name, int64_t* value) {
    return Guarded(
        [&] {
            if (set == nullptr || value == nullptr) throw tw::EDatabaseError("No result set");
            *value = set->table->FieldAsInteger(Text(name));
            return 1;
        },
        0);
}

int RsFieldAsString(const VxRecordSet* set, const char* name, const char** text, int* length) {
    return Guarded(
        [&] {
            if (set == nullptr || text == nullptr || length == nullptr) throw tw::EDatabaseError("No result set");
            const vxda::TCell& cell = set->table->Cell(Text(name));
            *text = cell.text.c_str();
            *length = static_cast<int>(cell.text.size());
            return 1;
        },
        0);
}

void RsRelease(VxRecordSet* set) { delete set; }

}  // extern "C"

// The entries must keep the shapes the loader resolves them as.
static_assert(std::is_same_v<decltype(&ConnectDB), TConnectDB>);
static_assert(std::is_same_v<decltype(&QueryRecords), TQueryRecords>);
static_assert(std::is_same_v<decltype(&QueryIfRecordExists), TQueryIfRecordExists>);
static_assert(std::is_same_v<decltype(&InsertRecord), TInsertRecord>);
static_assert(std::is_same_v<decltype(&UpdateRecords), TUpdateRecords>);
static_assert(std::is_same_v<decltype(&DeleteRecords), TDeleteRecords>);
static_assert(std::is_same_v<decltype(&DisconnectDB), TDisconnectDB>);
static_assert(std::is_same_v<decltype(&LastDBError), TLastDBError>);
static_assert(std::is_same_v<decltype(&RsFirst), TRsFirst>);
static_assert(std::is_same_v<decltype(&RsEof), TRsEof>);
static_assert(std::is_same_v<decltype(&RsNext), TRsNext>);
static_assert(std::is_same_v<decltype(&RsFieldAsInteger), TRsFieldAsInteger>);
static_assert(std::is_same_v<decltype(&RsFieldAsString), TRsFieldAsString>);
static_assert(std::is_same_v<decltype(&RsRelease), TRsRelease>);
