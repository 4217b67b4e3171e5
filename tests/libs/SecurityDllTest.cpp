// vxSecurity.dll loaded by name: the password cipher round trip and its refusal of damaged values.
#include <gtest/gtest.h>

#include "TestFolder.h"
#include "libs/SiblingLibraries.h"

namespace {

class SecurityDll : public ::testing::Test {
protected:
    void SetUp() override {
        libs_.LoadSecurity();
        ASSERT_TRUE(sec().Loaded());
    }
    tw::ISecurity& sec() { return libs_.Security(); }

    tw::SiblingLibraries libs_{"", [](const std::string&, const std::string&, unsigned) { return IDOK; }};
};

TEST_F(SecurityDll, DecryptGivesBackWhatEncryptGot) {
    std::string binary;
    for (int i = 0; i < 10 * 1024; ++i) binary += static_cast<char>(i * 7 + 1);
    const std::string texts[] = {"", "secret", std::string(10 * 1024, 'p'), "P\xC3\xA4\xC3\x9F w\xC3\xB6rt \xE2\x82\xAC",
                                 binary};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.size());
        std::optional<std::string> sealed = sec().Encrypt(text);
        ASSERT_TRUE(sealed);
        // One line of printable text: it must fit one settings-file value.
        for (char c : *sealed) {
            ASSERT_TRUE(c > ' ' && c < 0x7F) << int(c);
        }
        if (!text.empty()) {
            EXPECT_EQ(sealed->find(text), std::string::npos);
        }
        EXPECT_EQ(sec().Decrypt(*sealed), text);
    }
    EXPECT_EQ(sec().Decrypt(""), "");
}

TEST_F(SecurityDll, DamagedValuesAreFailuresNotText) {
    const std::string sealed = *sec().Encrypt("secret");
    std::string tampered = sealed;
    const size_t middle = tampered.size() / 2;
    tampered[middle] = tampered[middle] == 'A' ? 'B' : 'A';
    EXPECT_EQ(sec().Decrypt(tampered), std::nullopt);
    EXPECT_EQ(sec().Decrypt(sealed.substr(0, sealed.size() - 4)), std::nullopt);
    EXPECT_EQ(sec().Decrypt("secret"), std::nullopt);          // stored in clear by hand
    EXPECT_EQ(sec().Decrypt("c2VjcmV0"), std::nullopt);        // base64 of it, not enciphered
    EXPECT_EQ(sec().Decrypt(sealed + "\r\n"), std::nullopt);
}

}  // namespace
