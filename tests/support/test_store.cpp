#include "support/test_store.h"

#include <gtest/gtest.h>

#include "store/settings_file.h"

namespace vantory::test {

void settleUser(const TempFolder& dir, ProgramState& state, const std::string& password,
                const std::string& extension) {
    dir.useAsConfigHome();
    ASSERT_TRUE(GetSysDir(state).ok());
    SetPassword(state, password);
    SetExtension(state, extension);
    ASSERT_TRUE(SetStorageDir(state, dir / "store/").ok());
}

}  // namespace vantory::test
