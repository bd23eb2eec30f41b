// The settings file on POSIX systems: readable by its owner only, whatever
// the mode of the file it replaces.
#include <sys/stat.h>

#include "instrument/settings_file.h"
#include "settings_file_fixture.h"

namespace tarsa::test {
namespace {

TEST_F(SettingsFile, IsReadableByItsOwnerOnly) {
    WriteAll(Path(), "an older file");
    chmod(Path().c_str(), 0644);
    tp_->type = kTypeDraxo;
    ASSERT_EQ(WriteInfoFile(*tp_, Path().c_str()), 1);
    struct stat st {};
    ASSERT_EQ(stat(Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace tarsa::test
