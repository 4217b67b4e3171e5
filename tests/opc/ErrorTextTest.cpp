#include <gtest/gtest.h>

#include "opc/OpcError.h"
#include "opc/server/OPCErrorStrings.h"

namespace tw::opc {
namespace {

TEST(GetErrorText, OpcCodesUseTheFixedEnglishTexts) {
    EXPECT_EQ(GetErrorText(OPC_E_DUPLICATENAME), "Duplicate name not allowed.");
    EXPECT_EQ(GetErrorText(OPC_S_ALREADYACKED), "The condition has already been acknowleged.");
    EXPECT_EQ(GetErrorText(OPC_S_UNSUPPORTEDRATE),
              "The server does not support the requested data rate but will use the closest available rate.");
    EXPECT_EQ(GetErrorText(OPC_E_NOINFO), "Information is not available.");
    EXPECT_EQ(GetErrorText(OPC_S_INUSE),
              "The operation cannot be completed because the object still has references that exist.");
}

TEST(GetErrorText, SystemTextsLoseTrailingFullStopAndLineBreak) {
    EXPECT_EQ(GetErrorText(E_INVALIDARG), "Invalid parameter");
    EXPECT_EQ(GetErrorText(E_OUTOFMEMORY), "Out of memory");
    EXPECT_EQ(GetErrorText(static_cast<HRESULT>(0xC0048004L)), "");  // no text anywhere
}

TEST(GetErrorText, SystemMessagesWithInsertsDoNotReadMissingArguments) {
    // Error 107's text is "Insert disk for drive %1."; no argument array is passed, so the insert
    // must be left as it stands rather than read from nowhere.
    EXPECT_EQ(GetErrorText(HRESULT_FROM_WIN32(107)), "Insert disk for drive %1");
}

}  // namespace
}  // namespace tw::opc
