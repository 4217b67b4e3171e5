#include "ConfigDatabase.h"

#include <windows.h>

#include <sqlite3.h>

namespace tw::e2e {

namespace {

std::string Utf8(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return s;
}

}  // namespace

const char kConfigSchema[] =
    "CREATE TABLE IF NOT EXISTS DEVICE (ID INTEGER PRIMARY KEY AUTOINCREMENT, DESCRIPTION VARCHAR(100), "
    "IP_ADDRESS VARCHAR(15), PORT INTEGER, UNIT_ID INTEGER, DISABLED INTEGER DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS I_O_SETTING (ID INTEGER PRIMARY KEY AUTOINCREMENT, DEVICE_ID INTEGER, "
    "DESCRIPTION VARCHAR(100), REGISTER_NO INTEGER, REGISTER_TYPE INTEGER, TAG_NAME VARCHAR(100));";

std::string ExecSql(const std::wstring& path, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open(Utf8(path).c_str(), &db) != SQLITE_OK) {
        std::string error = sqlite3_errmsg(db);
        sqlite3_close(db);
        return error;
    }
    char* message = nullptr;
    std::string error;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) error = message ? message : "failed";
    sqlite3_free(message);
    sqlite3_close(db);
    return error;
}

std::string QueryRow(const std::wstring& path, const std::string& sql, const std::string& parameter) {
    sqlite3* db = nullptr;
    std::string row;
    if (sqlite3_open(Utf8(path).c_str(), &db) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(st, 1, parameter.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(st) == SQLITE_ROW)
                for (int c = 0; c < sqlite3_column_count(st); ++c) {
                    const unsigned char* text = sqlite3_column_text(st, c);
                    row += (c ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "");
                }
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return row;
}

}  // namespace tw::e2e
