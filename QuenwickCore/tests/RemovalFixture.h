#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "QuenwickCore/DeletionGuard.h"
#include "TestSupport.h"

// A temporary home with HOME and the XDG folders pointing into it, restored afterwards, so removal
// tests never reach the real user folders.
namespace quenwick::testing {

class RemovalTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = root / "home";
        data = home + "/.local/share";
        cache = home + "/.cache";
        config = home + "/.config";
        for (const auto& dir : {home, data, cache, config})
            ASSERT_TRUE(makeDirs(dir));
        setEnv("HOME", home);
        setEnv("XDG_DATA_HOME", data);
        setEnv("XDG_CACHE_HOME", cache);
        setEnv("XDG_CONFIG_HOME", config);
    }

    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

    void setEnv(const std::string& name, const std::string& value) {
        if (saved_.count(name) == 0) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        setenv(name.c_str(), value.c_str(), 1);
    }

    // The live guard's removal for path, which the test expects it to allow.
    static GuardedRemoval allow(const std::string& path) {
        const auto verdict = DeletionGuard::live().check(path);
        EXPECT_TRUE(verdict.isAllowed()) << path << ": " << *verdict.blockedReason();
        return *verdict.allowed();
    }

    static bool exists(const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }

    static std::string readAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    TempDir root;
    std::string home, data, cache, config;

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace quenwick::testing
