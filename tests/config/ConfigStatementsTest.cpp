#include "config/ConfigStatements.h"

#include "ConfigFakes.h"

namespace tw::test {
namespace {

using ConfigStatementsTest = ConfigFixture;

// Quotes at either end, in the middle and doubled, and what someone trying to break a statement types.
const std::string kQ = "'O''Neil's' -- ; DROP TABLE DEVICE; '";

TEST_F(ConfigStatementsTest, TextWithQuotesIsStoredAndReadBackUnchangedInEveryField) {
    const int64_t dev = AddDevice("a'b", "c'd");
    ASSERT_GT(data.UpdateDevice(dev, {kQ, kQ + "ip", "5'02", "1'", true}), 0);
    auto row = data.Device(dev);
    row->First();
    EXPECT_EQ((Strings{row->FieldAsString("DESCRIPTION"), row->FieldAsString("IP_ADDRESS"),
                       row->FieldAsString("PORT"), row->FieldAsString("UNIT_ID")}),
              (Strings{kQ, kQ + "ip", "5'02", "1'"}));
    EXPECT_TRUE(RowDisabled(*row));

    const int64_t reg = AddRegister(dev, kQ, kQ + "tag");
    EXPECT_TRUE(data.TagNameExists(kQ + "tag", -1));
    EXPECT_FALSE(data.TagNameExists(kQ + "tag", reg));  // its own row does not count
    EXPECT_FALSE(data.TagNameExists("x' OR '1'='1", -1));
    ASSERT_GT(data.UpdateRegister(reg, {kQ + "2", "9", 1, kQ + "tag2"}), 0);
    auto rs = data.Registers(dev);
    rs->First();
    EXPECT_EQ(rs->FieldAsString("DESCRIPTION"), kQ + "2");
    EXPECT_EQ(rs->FieldAsString("TAG_NAME"), kQ + "tag2");
    EXPECT_EQ(rs->FieldAsInteger("REGISTER_NO"), 9);
    EXPECT_EQ(rs->FieldAsInteger("REGISTER_TYPE"), 1);
    EXPECT_EQ(Count("SELECT * FROM DEVICE"), 1);
}

TEST_F(ConfigStatementsTest, MaxRegisterIdIsMinusOneForAnEmptyTable) {
    EXPECT_EQ(data.MaxRegisterId(), -1);
    const int64_t first = AddRegister(AddDevice("d"), "a", "A");
    EXPECT_GT(data.DeleteRegister(first), 0);
    EXPECT_EQ(data.DeleteRegister(first), 0);  // nothing deleted is a failure
}

}  // namespace
}  // namespace tw::test
