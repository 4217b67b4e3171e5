#include "vxDataAccess/SqliteDatabase.h"

#include <sqlite3.h>

#include <cctype>

namespace vxda {
namespace {

// The file lives beside the exe, where a normal user may change the files the installer made but may
// create none. So the rollback journal is one of those files and stays: each commit truncates it instead
// of deleting it. A journal left hot by a crash mid-save is rolled back as the schema is first read,
// before the journal mode applies; in exclusive locking mode that rollback keeps the file too. After
// that first read the file is shared again as usual.
const char* const kKeepJournal =
    "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=TRUNCATE; PRAGMA locking_mode=NORMAL;";

// Numbers arrive as text; INTEGER affinity stores them as numbers.
const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS DEVICE ("
    " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " DESCRIPTION VARCHAR(100),"
    " IP_ADDRESS VARCHAR(15),"
    " PORT INTEGER,"
    " UNIT_ID INTEGER,"
    " DISABLED INTEGER DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS I_O_SETTING ("
    " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " DEVICE_ID INTEGER,"
    " DESCRIPTION VARCHAR(100),"
    " REGISTER_NO INTEGER,"
    " REGISTER_TYPE INTEGER,"
    " TAG_NAME VARCHAR(100));";

// One prepared statement; finalized on every path out.
class TStatement {
public:
    TStatement(sqlite3* db, const std::string& sql) : db_(db) {
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &stmt_, &tail) != SQLITE_OK)
            Fail();
        if (stmt_ == nullptr) throw tw::EDatabaseError("Empty SQL statement");
        // Composed text carries exactly one statement: a value that smuggles in a second one (or a NUL
        // that would hide the rest) is refused.
        const size_t used = tail ? static_cast<size_t>(tail - sql.c_str()) : sql.size();
        if (sql.find_first_not_of(" \t\r\n;", used) != std::string::npos) {
            sqlite3_finalize(stmt_);  // the destructor does not run for a throwing constructor
            throw tw::EDatabaseError("Only one SQL statement may be given: " + sql);
        }
    }
    ~TStatement() { sqlite3_finalize(stmt_); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    sqlite3_stmt* get() const { return stmt_; }
    bool Step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) Fail();
        return false;
    }
    [[noreturn]] void Fail() const { throw tw::EDatabaseError(sqlite3_errmsg(db_)); }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Columns added after the tables above were first shipped, to new and old files alike. Each is nullable,
// NULL meaning what earlier versions did; those read rows by field name and insert without these
// fields, so they keep working on a file that has them.
struct TAddedColumn {
    const char* table;
    const char* column;
    const char* definition;
};
const TAddedColumn kAddedColumns[] = {
    {"DEVICE", "BLOCK_READS", "ALTER TABLE DEVICE ADD COLUMN BLOCK_READS INTEGER"},
    {"DEVICE", "WORD_ORDER", "ALTER TABLE DEVICE ADD COLUMN WORD_ORDER INTEGER"},
    {"DEVICE", "WRITE_MULTIPLE", "ALTER TABLE DEVICE ADD COLUMN WRITE_MULTIPLE INTEGER"},
    {"I_O_SETTING", "DATA_TYPE", "ALTER TABLE I_O_SETTING ADD COLUMN DATA_TYPE INTEGER"},
    {"I_O_SETTING", "RAW_LOW", "ALTER TABLE I_O_SETTING ADD COLUMN RAW_LOW REAL"},
    {"I_O_SETTING", "RAW_HIGH", "ALTER TABLE I_O_SETTING ADD COLUMN RAW_HIGH REAL"},
    {"I_O_SETTING", "EU_LOW", "ALTER TABLE I_O_SETTING ADD COLUMN EU_LOW REAL"},
    {"I_O_SETTING", "EU_HIGH", "ALTER TABLE I_O_SETTING ADD COLUMN EU_HIGH REAL"},
    {"I_O_SETTING", "EU_UNITS", "ALTER TABLE I_O_SETTING ADD COLUMN EU_UNITS VARCHAR(32)"},
    {"I_O_SETTING", "EU_CLAMP", "ALTER TABLE I_O_SETTING ADD COLUMN EU_CLAMP INTEGER"},
    {"DEVICE", "SCAN_INTERVAL_MS", "ALTER TABLE DEVICE ADD COLUMN SCAN_INTERVAL_MS INTEGER"},
};

bool HasColumn(sqlite3* db, const std::string& table, const std::string& column) {
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = "PRAGMA table_info(" + table + ")";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return false;
    bool found = false;
    while (!found && sqlite3_step(stmt) == SQLITE_ROW) {
        const unsigned char* name = sqlite3_column_text(stmt, 1);
        found = name != nullptr && column == reinterpret_cast<const char*>(name);
    }
    sqlite3_finalize(stmt);
    return found;
}

// A file that cannot take a column (read-only, say) still opens: the program then reads the
// column's absence as NULL, and only saving a device fails.
void AddMissingColumns(sqlite3* db) {
    for (const TAddedColumn& added : kAddedColumns)
        if (!HasColumn(db, added.table, added.column)) sqlite3_exec(db, added.definition, nullptr, nullptr, nullptr);
}

TCell ReadCell(sqlite3_stmt* stmt, int column) {
    TCell cell;
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL: return cell;
    case SQLITE_INTEGER: cell.kind = TCell::Integer; break;
    case SQLITE_FLOAT: cell.kind = TCell::Real; break;
    default: cell.kind = TCell::Text; break;
    }
    cell.integer = sqlite3_column_int64(stmt, column);
    const unsigned char* text = sqlite3_column_text(stmt, column);
    if (text != nullptr) cell.text.assign(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt, column));
    return cell;
}

void RequireIdentifier(const std::string& name) {
    if (!IsPlainIdentifier(name)) throw tw::EDatabaseError("Invalid table or field name: '" + name + "'");
}

}  // namespace

bool IsPlainIdentifier(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80) && c != '_')
            return false;
    return true;
}

std::unique_ptr<TSqliteDatabase> TSqliteDatabase::Open(const std::string& path) {
    if (path.empty()) throw tw::EDatabaseError("No database path given");
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<TSqliteDatabase> result(new TSqliteDatabase(db));  // closes db on every path out
    if (rc != SQLITE_OK)
        throw tw::EDatabaseError("Cannot open database '" + path + "': " + (db ? sqlite3_errmsg(db) : "out of memory"));
    sqlite3_busy_timeout(db, 2000);
    for (const char* sql : {kKeepJournal, kSchema}) {
        char* error = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = "Cannot prepare database '" + path + "': " + (error ? error : "unknown error");
            sqlite3_free(error);
            throw tw::EDatabaseError(message);
        }
    }
    AddMissingColumns(db);
    // The load reads each device's registers by DEVICE_ID: without an index every such read scans the
    // whole table, which costs a plant of a thousand devices seconds. A file that cannot take it still opens.
    sqlite3_exec(db, "CREATE INDEX IF NOT EXISTS I_O_SETTING_DEVICE_ID ON I_O_SETTING (DEVICE_ID)", nullptr, nullptr,
                 nullptr);
    return result;
}

TSqliteDatabase::~TSqliteDatabase() { sqlite3_close_v2(db_); }

std::unique_ptr<TResultTable> TSqliteDatabase::Query(const std::string& sql) {
    TStatement stmt(db_, sql);
    int count = sqlite3_column_count(stmt.get());
    std::vector<std::string> columns;
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(stmt.get(), i);
        columns.emplace_back(name ? name : "");
    }
    auto table = std::make_unique<TResultTable>(std::move(columns));
    while (stmt.Step()) {
        std::vector<TCell> row;
        row.reserve(count);
        for (int i = 0; i < count; ++i) row.push_back(ReadCell(stmt.get(), i));
        table->AddRow(std::move(row));
    }
    return table;
}

template <class Body>
int TSqliteDatabase::Guarded(Body&& body) {
    try {
        int result = body();
        lastError_.clear();
        return result;
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return 0;
    }
}

int TSqliteDatabase::RecordExists(const std::string& sql) {
    return Guarded([&] {
        TStatement stmt(db_, sql);
        return stmt.Step() ? 1 : 0;
    });
}

int TSqliteDatabase::Insert(const std::string& table, const std::vector<std::string>& fields,
                            const std::vector<std::string>& values) {
    return Guarded([&] {
        RequireIdentifier(table);
        if (fields.empty() || fields.size() != values.size())
            throw tw::EDatabaseError("Insert into " + table + ": field and value lists differ in length");
        std::string names, marks;
        for (size_t i = 0; i < fields.size(); ++i) {
            RequireIdentifier(fields[i]);
            names += (i ? ", " : "") + fields[i];
            marks += i ? ", ?" : "?";
        }
        TStatement stmt(db_, "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")");
        for (size_t i = 0; i < values.size(); ++i)
            if (sqlite3_bind_text(stmt.get(), static_cast<int>(i) + 1, values[i].data(),
                                  static_cast<int>(values[i].size()), SQLITE_TRANSIENT) != SQLITE_OK)
                stmt.Fail();
        stmt.Step();
        return sqlite3_changes(db_);
    });
}

int TSqliteDatabase::Execute(const std::string& sql) {
    return Guarded([&] {
        TStatement stmt(db_, sql);
        // Counted around the statement: sqlite3_changes() would repeat an earlier statement's count
        // for one that changes nothing.
        int before = sqlite3_total_changes(db_);
        while (stmt.Step()) {
        }
        return sqlite3_total_changes(db_) - before;
    });
}

int TSqliteDatabase::Delete(const std::string& table, const std::string& condition) {
    return Guarded([&] {
        RequireIdentifier(table);
        // A blank condition would empty the table; the program always names one row.
        if (condition.find_first_not_of(" \t\r\n") == std::string::npos)
            throw tw::EDatabaseError("Delete from " + table + " without a condition");
        TStatement stmt(db_, "DELETE FROM " + table + " WHERE " + condition);
        stmt.Step();
        return sqlite3_changes(db_);
    });
}

}  // namespace vxda
