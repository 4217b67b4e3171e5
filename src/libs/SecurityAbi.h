// The C entries of vxSecurity.dll, shared by the DLL and the loader. Results are allocated by the DLL
// and freed with its FreeText.
#pragma once

extern "C" {

// 1 with *out (length *outLength, NUL-terminated) on success; 0 when the text cannot be
// enciphered or deciphered.
typedef int (*TEncrypt)(const char* text, int length, char** out, int* outLength);
typedef int (*TDecrypt)(const char* text, int length, char** out, int* outLength);
typedef void (*TSecurityFreeText)(char* text);

}  // extern "C"
