#include "vxDataAccess/DirectDataAccess.h"

namespace tw {
namespace {
const char* const kNotConnected = "Database not connected";
}

DbConnection DirectDataAccess::ConnectDB(const std::string& path, const std::string&, const std::string&,
                                             std::uintptr_t, bool) {
    try {
        std::unique_ptr<vxda::TSqliteDatabase> db = vxda::TSqliteDatabase::Open(path);
        auto handle = reinterpret_cast<DbConnection>(db.get());
        connections_[handle] = std::move(db);
        lastError_.clear();
        return handle;
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return 0;
    }
}

vxda::TSqliteDatabase* DirectDataAccess::Find(DbConnection conn) {
    auto it = connections_.find(conn);
    if (it != connections_.end()) return it->second.get();
    lastError_ = kNotConnected;
    return nullptr;
}

int DirectDataAccess::Report(vxda::TSqliteDatabase* db, int result) {
    lastError_ = db->LastError();
    return result;
}

std::unique_ptr<TRecordSet> DirectDataAccess::QueryRecords(DbConnection conn, const std::string& sql, bool) {
    vxda::TSqliteDatabase* db = Find(conn);
    if (db == nullptr) throw EDatabaseError(kNotConnected);
    return db->Query(sql);
}

int DirectDataAccess::QueryIfRecordExists(DbConnection conn, const std::string& sql, bool) {
    vxda::TSqliteDatabase* db = Find(conn);
    return db ? Report(db, db->RecordExists(sql)) : 0;
}

int DirectDataAccess::InsertRecord(DbConnection conn, const std::string& table,
                                   const std::vector<std::string>& fields, const std::vector<std::string>& values,
                                   bool) {
    vxda::TSqliteDatabase* db = Find(conn);
    return db ? Report(db, db->Insert(table, fields, values)) : 0;
}

int DirectDataAccess::UpdateRecords(DbConnection conn, const std::string& sql, bool) {
    vxda::TSqliteDatabase* db = Find(conn);
    return db ? Report(db, db->Execute(sql)) : 0;
}

int DirectDataAccess::DeleteRecords(DbConnection conn, const std::string& table, const std::string& condition,
                                    bool) {
    vxda::TSqliteDatabase* db = Find(conn);
    return db ? Report(db, db->Delete(table, condition)) : 0;
}

void DirectDataAccess::DisconnectDB(DbConnection conn, bool) { connections_.erase(conn); }

}  // namespace tw
