#include "platform/wayland/RestoreTokenFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

TEST(RestoreTokenFile, ReadsOnlyAWellFormedToken) {
    struct Case {
        const char* text;
        std::optional<std::string> token;
    };
    const Case cases[] = {
        {"restore_token = \"4f0c9a52-aa\"\n", "4f0c9a52-aa"},
        {"# comment\n  restore_token=\"abc\"  \r\n", "abc"},
        {"other = 1\nrestore_token = \"x\"\nrestore_token = \"y\"\n", "x"},
        {"restore_token = \"\"\n", std::nullopt},
        {"restore_token = \"has space\"\n", std::nullopt},
        {"restore_token = \"a\\\"b\"\n", std::nullopt},
        {"restore_token = abc\n", std::nullopt},
        {"restore_tokens = \"abc\"\n", std::nullopt},
        {"", std::nullopt},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        std::ofstream(dir / "portal.toml") << c.text;
        EXPECT_EQ(RestoreTokenFile((dir / "portal.toml").string()).load(), c.token) << c.text;
    }
    EXPECT_EQ(RestoreTokenFile((dir / "missing.toml").string()).load(), std::nullopt);
}

TEST(RestoreTokenFile, SavesIntoNewFoldersForgetsAndDefaultsToTheStateFolder) {
    test::TempDir dir;
    RestoreTokenFile file((dir / "state/corvane/portal.toml").string());
    ASSERT_TRUE(file.save("token-1"));
    ASSERT_TRUE(file.save("token-2"));
    EXPECT_EQ(file.load(), "token-2");
    EXPECT_FALSE(file.save("bad\"token")) << "a token that would need escaping is not written";
    EXPECT_EQ(file.load(), "token-2");
    file.forget();
    EXPECT_EQ(file.load(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(file.path()));
    file.forget();  // nothing to remove is fine

    // By default in the state folder; a relative XDG_STATE_HOME is ignored.
    {
        test::ScopedEnv state("XDG_STATE_HOME", "/somewhere/state");
        EXPECT_EQ(RestoreTokenFile::defaultPath(), "/somewhere/state/corvane/portal.toml");
    }
    test::ScopedEnv state("XDG_STATE_HOME", "relative/ignored");
    EXPECT_TRUE(RestoreTokenFile::defaultPath().ends_with("/.local/state/corvane/portal.toml"));
}

}  // namespace
}  // namespace corvane
