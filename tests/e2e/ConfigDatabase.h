// The gateway's configuration database (SQLite) as the end-to-end tests prepare and inspect it.
#pragma once

#include <string>

namespace tw::e2e {

// The two tables as the data-access library creates them.
extern const char kConfigSchema[];

// Runs the statements on the database file (created when missing); an error message, empty on success.
std::string ExecSql(const std::wstring& path, const std::string& sql);
// The columns of the first row of a query with one text parameter, joined by "|"; empty when no row.
std::string QueryRow(const std::wstring& path, const std::string& sql, const std::string& parameter);

}  // namespace tw::e2e
