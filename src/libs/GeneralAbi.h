// The C entries of vxGeneral.dll, shared by the DLL and the loader. Text the DLL hands out is freed
// with its FreeText (each DLL has its own heap).
#pragma once

extern "C" {

// The button pressed: 6 Yes, 7 No, 1 OK, 2 Cancel.
typedef int (*TShowMsg)(const char* text, int kind, int buttons, int helpContext);
typedef int (*TGetInitSettingBool)(const char* section, const char* key, const char* fileName, int defaultValue);
// Never NULL; free with FreeText.
typedef char* (*TGetInitSettingStr)(const char* section, const char* key, const char* fileName,
                                    const char* defaultValue);
typedef void (*TSetInitSettingBool)(const char* section, const char* key, int value, const char* fileName);
typedef void (*TSetInitSettingStr)(const char* section, const char* key, const char* value, const char* fileName);
typedef void (*TAddLog)(const char* text, const char* logPath);
typedef void (*TFreeText)(char* text);

}  // extern "C"
