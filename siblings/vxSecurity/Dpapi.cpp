#include "Dpapi.h"

#include <windows.h>
#include <wincrypt.h>

namespace vxsec {
namespace {

// Extra entropy ties the data to this program: another program on the machine calling
// CryptUnprotectData on the settings value does not get the password back.
const char kEntropy[] = "Tarnowick settings password";

DATA_BLOB Blob(const char* data, size_t size) {
    return {static_cast<DWORD>(size), reinterpret_cast<BYTE*>(const_cast<char*>(data))};
}

std::optional<std::string> TakeBlob(BOOL ok, DATA_BLOB& out) {
    if (!ok) return std::nullopt;
    std::string result(reinterpret_cast<const char*>(out.pbData), out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return result;
}

const DWORD kFlags = CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN;

}  // namespace

std::optional<std::string> Protect(const std::string& plain) {
    DATA_BLOB in = Blob(plain.data(), plain.size()), entropy = Blob(kEntropy, sizeof kEntropy - 1), out{};
    return TakeBlob(CryptProtectData(&in, L"Tarnowick", &entropy, nullptr, nullptr, kFlags, &out), out);
}

std::optional<std::string> Unprotect(const std::string& sealed) {
    DATA_BLOB in = Blob(sealed.data(), sealed.size()), entropy = Blob(kEntropy, sizeof kEntropy - 1), out{};
    return TakeBlob(CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, kFlags, &out), out);
}

}  // namespace vxsec
