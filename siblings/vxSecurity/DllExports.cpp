// vxSecurity.dll: Encrypt and Decrypt of the settings password. The enciphered form is the DPAPI
// blob with a check value, in base64: one line of printable text. No C++ exception leaves the DLL.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <type_traits>

#include "Dpapi.h"
#include "SealedText.h"
#include "libs/SecurityAbi.h"

namespace {

int Hand(const std::optional<std::string>& result, char** out, int* outLength) {
    if (!result) return 0;
    char* copy = static_cast<char*>(std::malloc(result->size() + 1));
    if (copy == nullptr) return 0;
    std::memcpy(copy, result->c_str(), result->size() + 1);
    *out = copy;
    *outLength = static_cast<int>(result->size());
    return 1;
}

bool ValidArgs(const char* text, int length, char** out, int* outLength) {
    if (out == nullptr || outLength == nullptr || length < 0 || (text == nullptr && length > 0)) return false;
    *out = nullptr;
    *outLength = 0;
    return true;
}

}  // namespace

extern "C" {

int Encrypt(const char* text, int length, char** out, int* outLength) {
    try {
        if (!ValidArgs(text, length, out, outLength)) return 0;
        if (length == 0) return Hand(std::string(), out, outLength);
        std::optional<std::string> sealed = vxsec::Protect(std::string(text, length));
        return Hand(sealed ? std::optional<std::string>(vxsec::PackSealed(*sealed)) : std::nullopt, out, outLength);
    } catch (...) {
        return 0;
    }
}

int Decrypt(const char* text, int length, char** out, int* outLength) {
    try {
        if (!ValidArgs(text, length, out, outLength)) return 0;
        if (length == 0) return Hand(std::string(), out, outLength);  // nothing stored: no password
        std::optional<std::string> sealed = vxsec::UnpackSealed(std::string(text, length));
        return Hand(sealed ? vxsec::Unprotect(*sealed) : std::nullopt, out, outLength);
    } catch (...) {
        return 0;
    }
}

void FreeText(char* text) { std::free(text); }

}  // extern "C"

static_assert(std::is_same_v<decltype(&Encrypt), TEncrypt>);
static_assert(std::is_same_v<decltype(&Decrypt), TDecrypt>);
static_assert(std::is_same_v<decltype(&FreeText), TSecurityFreeText>);
