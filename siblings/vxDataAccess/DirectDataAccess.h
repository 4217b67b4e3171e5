// The data-access operations in-process, without the DLL: for host tests and tools that open the
// configuration database directly.
#pragma once

#include <map>
#include <memory>

#include "libs/DataAccess.h"
#include "vxDataAccess/SqliteDatabase.h"

namespace tw {

class DirectDataAccess : public IDataAccess {
public:
    bool Loaded() const override { return true; }
    // User, password, window handle and flag mean nothing to SQLite. 0 when the file cannot be opened.
    DbConnection ConnectDB(const std::string& path, const std::string& user, const std::string& password,
                               std::uintptr_t appHandle, bool flag) override;
    std::unique_ptr<TRecordSet> QueryRecords(DbConnection conn, const std::string& sql, bool flag) override;
    int QueryIfRecordExists(DbConnection conn, const std::string& sql, bool flag) override;
    int InsertRecord(DbConnection conn, const std::string& table, const std::vector<std::string>& fields,
                     const std::vector<std::string>& values, bool flag) override;
    int UpdateRecords(DbConnection conn, const std::string& sql, bool flag) override;
    int DeleteRecords(DbConnection conn, const std::string& table, const std::string& condition,
                      bool flag) override;
    void DisconnectDB(DbConnection conn, bool flag) override;

    // Why the last operation failed (empty after a success).
    const std::string& LastError() const { return lastError_; }

private:
    vxda::TSqliteDatabase* Find(DbConnection conn);
    int Report(vxda::TSqliteDatabase* db, int result);

    std::map<DbConnection, std::unique_ptr<vxda::TSqliteDatabase>> connections_;
    std::string lastError_;
};

}  // namespace tw
