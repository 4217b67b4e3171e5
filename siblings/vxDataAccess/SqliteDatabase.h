// The configuration database on SQLite: the operations the program needs, on one open file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vxDataAccess/ResultTable.h"

struct sqlite3;

namespace vxda {

class TSqliteDatabase {
public:
    // Opens (or creates) the file and makes sure the program's tables exist. Throws EDatabaseError.
    static std::unique_ptr<TSqliteDatabase> Open(const std::string& path);
    ~TSqliteDatabase();
    TSqliteDatabase(const TSqliteDatabase&) = delete;
    TSqliteDatabase& operator=(const TSqliteDatabase&) = delete;

    // Rows of one SELECT. Throws EDatabaseError with the engine's message when the statement fails.
    std::unique_ptr<TResultTable> Query(const std::string& sql);

    // The int operations report failure as 0 and keep the reason in LastError().
    int RecordExists(const std::string& sql);  // 1 when a row comes back
    // Values are bound as parameters; table and field names must be plain identifiers.
    int Insert(const std::string& table, const std::vector<std::string>& fields,
               const std::vector<std::string>& values);
    int Execute(const std::string& sql);  // rows changed
    int Delete(const std::string& table, const std::string& condition);  // rows deleted
    const std::string& LastError() const { return lastError_; }

private:
    explicit TSqliteDatabase(sqlite3* db) : db_(db) {}
    template <class Body>
    int Guarded(Body&& body);

    sqlite3* db_;
    std::string lastError_;
};

// True for a plain SQL identifier: a letter or '_' followed by letters, digits or '_'.
bool IsPlainIdentifier(const std::string& name);

}  // namespace vxda
