// The configuration database as the program sees it: the seven operations of the data-access library.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tw {

// A database failure: a statement the engine refused, or a field a result set does not hold.
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A result set, walked one way only: First; while !Eof read fields by name, Next; then release it
// (the destructor). Reading a field the set does not hold throws EDatabaseError("Field 'X' not found").
class TRecordSet {
public:
    virtual ~TRecordSet() = default;
    virtual void First() = 0;
    virtual bool Eof() const = 0;
    virtual void Next() = 0;
    virtual int64_t FieldAsInteger(const std::string& name) const = 0;
    virtual std::string FieldAsString(const std::string& name) const = 0;
};

using DbConnection = std::uintptr_t;  // 0: no connection

class IDataAccess {
public:
    virtual ~IDataAccess() = default;
    virtual bool Loaded() const = 0;
    virtual DbConnection ConnectDB(const std::string& path, const std::string& user, const std::string& password,
                                   std::uintptr_t appHandle, bool flag) = 0;
    // Always a result set (empty when nothing matches); throws EDatabaseError when the statement fails.
    virtual std::unique_ptr<TRecordSet> QueryRecords(DbConnection conn, const std::string& sql, bool flag) = 0;
    // The following report success (or "a row exists") as a value above 0.
    virtual int QueryIfRecordExists(DbConnection conn, const std::string& sql, bool flag) = 0;
    virtual int InsertRecord(DbConnection conn, const std::string& table, const std::vector<std::string>& fields,
                             const std::vector<std::string>& values, bool flag) = 0;
    virtual int UpdateRecords(DbConnection conn, const std::string& sql, bool flag) = 0;
    virtual int DeleteRecords(DbConnection conn, const std::string& table, const std::string& condition,
                              bool flag) = 0;
    virtual void DisconnectDB(DbConnection conn, bool flag) = 0;
};

}  // namespace tw
