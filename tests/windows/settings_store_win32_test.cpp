// The settings store in the registry: values written and read back under
// the maker's key, and values of other kinds and sizes, as another program
// or a damaged profile could leave them, read within bounds.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "web/settings_store.h"

namespace tarsa {
namespace {

constexpr const char* kName = "TarsaBSL-test";
constexpr const char* kKey = "Software\\Corvane Devices, Inc\\TarsaBSL-test";

class RegistryStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
    static void Put(const char* value, DWORD kind, const void* data, DWORD size) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kKey, value, kind, data, size), ERROR_SUCCESS);
    }
};

TEST_F(RegistryStoreTest, ValuesRoundTripUnderTheMakersKey) {
    const auto store = OpenUserSettings(kName);
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
    ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, kKey, "Port", RRF_RT_REG_SZ, nullptr, seen, &size),
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
    RegistryStore store(kKey);
    EXPECT_EQ(store.Read("Number"), "4000000000");
    EXPECT_EQ(store.Read("Binary"), "");
    EXPECT_EQ(store.Read("Long"), std::string(kMaxStoredValueBytes, 'L'));
    EXPECT_EQ(store.Read("Huge"), "");
    EXPECT_EQ(store.Read("Unterminated"), "abc");
}

}  // namespace
}  // namespace tarsa
