// Value conversion and time helpers for everything the server hands to a client.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "values/TypedValue.h"

namespace tw::opc {

// A plain type from VT_EMPTY to VT_CLSID; any modifier bit (array, by-reference, vector) is refused.
bool IsValidVarType(VARTYPE vt);

// Converts source to target in the user's default locale. DISP_E_OVERFLOW marks the quality bad (0);
// other failures leave it alone. dest must be initialised; what it held is released.
void ConvertVariant(const VARIANT& source, VARTYPE target, WORD& quality, VARIANT& dest, HRESULT& result);

// A value of a data type in its canonical type: VT_UI2, VT_I2, VT_UI4, VT_I4, VT_R4, VT_R8, VT_BOOL.
VARIANT CanonicalVariant(TValueBits bits, TDataType type);
// A value a client writes, as the bits of type: VariantChangeType semantics (text in the user's
// locale, integers rounded half to even). OPC_E_BADTYPE for what is no number (objects and records
// are not converted: that would call the client); OPC_E_RANGE outside the type's range.
HRESULT WrittenValue(const VARIANT& value, TDataType type, TValueBits& bits);

// Local date-times are OLE automation dates (days since 30 December 1899) in local time.
double NowLocalDateTime();
// UTC FILETIME of a local date-time; the offset in force now is applied, not the one of the date.
FILETIME LocalDateTimeToFileTime(double localDateTime);

}  // namespace tw::opc
