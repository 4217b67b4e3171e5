// The C entries of vxDataAccess.dll, shared by the DLL and the loader so both sides agree on them.
// Nothing but plain C types crosses: no exceptions, no STL objects, and each side frees what it
// allocated (each DLL has its own heap).
#pragma once

#include <cstdint>

extern "C" {

typedef struct VxRecordSet VxRecordSet;  // owned by the caller, released with RsRelease

// Connection handle, or 0 when the database cannot be opened.
typedef intptr_t (*TConnectDB)(const char* path, const char* user, const char* password, intptr_t appHandle,
                               int flag);
// 1 and *set filled (possibly with no rows); 0 when the statement failed (see LastDBError).
typedef int (*TQueryRecords)(intptr_t conn, const char* sql, VxRecordSet** set, int flag);
typedef int (*TQueryIfRecordExists)(intptr_t conn, const char* sql, int flag);
typedef int (*TInsertRecord)(intptr_t conn, const char* table, const char* const* fields,
                             const char* const* values, int count, int flag);
typedef int (*TUpdateRecords)(intptr_t conn, const char* sql, int flag);
typedef int (*TDeleteRecords)(intptr_t conn, const char* table, const char* condition, int flag);
typedef void (*TDisconnectDB)(intptr_t conn, int flag);
// Why the last call failed; the text stays valid until the next call into the DLL.
typedef const char* (*TLastDBError)(void);

typedef void (*TRsFirst)(VxRecordSet* set);
typedef int (*TRsEof)(const VxRecordSet* set);
typedef void (*TRsNext)(VxRecordSet* set);
// 1 and the value, or 0 with LastDBError ("Field 'X' not found", not a number, no current row).
typedef int (*TRsFieldAsInteger)(const VxRecordSet* set, const char* name, int64_t* value);
// The text points into the set and stays valid until the set moves or is released.
typedef int (*TRsFieldAsString)(const VxRecordSet* set, const char* name, const char** text, int* length);
typedef void (*TRsRelease)(VxRecordSet* set);

}  // extern "C"
