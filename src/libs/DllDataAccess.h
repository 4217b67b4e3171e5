// IDataAccess over the entries of vxDataAccess.dll. Unbound (the DLL did not load), every call fails
// gracefully: ConnectDB gives 0, QueryRecords an empty set, the int operations 0.
#pragma once

#include <memory>

#include "libs/DataAccess.h"
#include "libs/DataAccessAbi.h"
#include "libs/LibraryModule.h"

namespace tw {

class TDllDataAccess : public IDataAccess {
public:
    // Resolves every entry; false (and unbound) when one is missing.
    bool Bind(std::shared_ptr<TLibraryModule> module);
    void Unbind() { lib_.reset(); }

    bool Loaded() const override { return lib_ != nullptr; }
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

    // The entries, kept with the module that holds them.
    struct TEntries {
        std::shared_ptr<TLibraryModule> module;
        TConnectDB ConnectDB;
        TQueryRecords QueryRecords;
        TQueryIfRecordExists QueryIfRecordExists;
        TInsertRecord InsertRecord;
        TUpdateRecords UpdateRecords;
        TDeleteRecords DeleteRecords;
        TDisconnectDB DisconnectDB;
        TLastDBError LastDBError;
        TRsFirst RsFirst;
        TRsEof RsEof;
        TRsNext RsNext;
        TRsFieldAsInteger RsFieldAsInteger;
        TRsFieldAsString RsFieldAsString;
        TRsRelease RsRelease;
    };

private:
    std::shared_ptr<const TEntries> lib_;
};

}  // namespace tw
