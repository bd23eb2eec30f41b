// The settings store in the registry: values written and read back under
// the maker's key, and values of other kinds and sizes, as another program
// or a damaged profile could leave them, read within bounds.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "web/settings_store.h"

namespace tarsa {
namespace {

// Each test has a key of its own: the tests run side by side in one wine
// prefix, and each clears its key before and after.
class RegistryStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = std::string("TarsaBSL-test-") +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        key_ = "Software\\Corvane Devices, Inc\\" + name_;
        RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str()); }
    void Put(const char* value, DWORD kind, const void* data, DWORD size) const {
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, key_.c_str(), value, kind, data, size),
                  ERROR_SUCCESS);
    }
    std::string name_;  // the settings name OpenUserSettings takes
    std::string key_;   // where that name's values are kept
};

TEST_F(RegistryStoreTest, ValuesRoundTripUnderTheMakersKey) {
    const auto store = OpenUserSettings(name_);
    EXPECT_EQ(store->Read("Port"), "");
    const std::string text = "COM5\r\nsecond line \xc3\xa9";
    ASSERT_TRUE(store->Write("Port", text));
    ASSERT_TRUE(store->Write("Empty", ""));
    ASSERT_TRUE(store->Write("Cut", std::string("before\0after", 12)));
    EXPECT_EQ(store->Read("Port"), text);
    EXPECT_EQ(store->Read("Empty"), "");
    EXPECT_EQ(store->Read("Cut"), "before");
    // Another program sees the same value where the key says.
    char seen[64] = {};
    DWORD size = sizeof seen;
    ASSERT_EQ(
        RegGetValueA(HKEY_CURRENT_USER, key_.c_str(), "Port", RRF_RT_REG_SZ, nullptr, seen, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::string(seen), text);
}

TEST_F(RegistryStoreTest, ForeignKindsAndSizesAreReadWithinBounds) {
    const DWORD number = 4000000000u;
    Put("Number", REG_DWORD, &number, sizeof number);
    const unsigned char bytes[] = {1, 2, 3};
    Put("Binary", REG_BINARY, bytes, sizeof bytes);
    const std::string long1 = std::string(3000, 'L');
    Put("Long", REG_SZ, long1.c_str(), static_cast<DWORD>(long1.size() + 1));
    const std::string huge(100 * 1024, 'H');
    Put("Huge", REG_SZ, huge.c_str(), static_cast<DWORD>(huge.size() + 1));
    // No terminating NUL: the stored size bounds the text.
    Put("Unterminated", REG_SZ, "abc", 3);
    RegistryStore store(key_);
    EXPECT_EQ(store.Read("Number"), "4000000000");
    EXPECT_EQ(store.Read("Binary"), "");
    EXPECT_EQ(store.Read("Long"), std::string(kMaxStoredValueBytes, 'L'));
    EXPECT_EQ(store.Read("Huge"), "");
    EXPECT_EQ(store.Read("Unterminated"), "abc");
}

}  // namespace
}  // namespace tarsa
