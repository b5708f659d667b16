// SPDX-License-Identifier: BSD-3-Clause
// The .kpz file type's registry entries: the four keys and values, a key that cannot be
// opened skipped, a value that cannot be set ending the registration; on Windows the
// entries read back from the registry, and a program in another folder taking them over.
#include "file_type_registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const std::string kProgram = "C:\\Program Files\\Brisko Packer\\brisko-packer.exe";

// What a program at path must find under the four keys.
std::map<std::string, std::string> expectedValues(const std::string& path) {
    return {
        {".kpz", "Brisko Packer"},
        {"Brisko Packer", "Brisko Packer File"},
        {"Brisko Packer\\DefaultIcon", path + ",0"},
        {"Brisko Packer\\shell\\open\\command", "\"" + path + "\" \"%1\""},
    };
}

// A registry in memory that refuses the keys and writes it is told to.
class FakeRegistry final : public platform::RegistryWriter {
  public:
    std::set<std::string> refusedKeys;
    std::set<std::string> failingWrites;
    std::map<std::string, std::string> values;
    std::vector<std::string> opened;
    int openKeys = 0;

    bool openKey(const std::string& key) override {
        opened.push_back(key);
        if (refusedKeys.count(key)) return false;
        current_ = key;
        ++openKeys;
        return true;
    }
    bool setDefaultValue(const std::string& value) override {
        if (current_.empty() || failingWrites.count(current_)) return false;
        values[current_] = value;
        return true;
    }
    void closeKey() override {
        if (!current_.empty()) --openKeys;
        current_.clear();
    }

  private:
    std::string current_;
};

TEST(FileTypeRegistry, WritesWhatItMayAndStopsAtAFailedWrite) {
    const std::string icon = "Brisko Packer\\DefaultIcon";
    const std::string command = "Brisko Packer\\shell\\open\\command";
    struct Case {
        const char* label;
        std::set<std::string> refused;
        std::set<std::string> failing;
        std::set<std::string> written; // keys that end up with their value
        size_t opened;                 // keys tried
        bool failureShown;
    } cases[] = {
        {"every key writable", {}, {}, {".kpz", "Brisko Packer", icon, command}, 4, false},
        {"no rights to the root", {".kpz", "Brisko Packer", icon, command}, {}, {}, 4, false},
        {"one key refused", {icon}, {}, {".kpz", "Brisko Packer", command}, 4, false},
        {"write fails in the second key", {}, {"Brisko Packer"}, {".kpz"}, 2, true},
        {"write fails in the last key", {}, {command}, {".kpz", "Brisko Packer", icon}, 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakeRegistry registry;
        registry.refusedKeys = c.refused;
        registry.failingWrites = c.failing;
        const std::string message = platform::registerFileType(registry, kProgram);
        EXPECT_EQ(message, c.failureShown ? "Failed to set data for ''" : "");
        EXPECT_EQ(registry.opened.size(), c.opened);
        EXPECT_EQ(registry.openKeys, 0) << "a key was left open";
        const auto expected = expectedValues(kProgram);
        std::set<std::string> written;
        for (const auto& [key, value] : registry.values) {
            written.insert(key);
            EXPECT_EQ(value, expected.at(key)) << key;
        }
        EXPECT_EQ(written, c.written);
    }
}

#ifdef _WIN32

std::wstring wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring text(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(), n);
    return text;
}

std::string utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string bytes(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), n, nullptr,
                        nullptr);
    return bytes;
}

// The key's default value as the system holds it, in UTF-16, given back in UTF-8.
std::string readDefaultValue(const std::string& key, DWORD& type) {
    wchar_t buffer[2048];
    DWORD size = sizeof buffer;
    type = REG_NONE;
    if (RegGetValueW(HKEY_CLASSES_ROOT, wide(key).c_str(), nullptr, RRF_RT_ANY, &type, buffer,
                     &size) != ERROR_SUCCESS)
        return "<missing>";
    const size_t chars = size / sizeof(wchar_t);
    return utf8(std::wstring(buffer, chars > 0 ? chars - 1 : 0));
}

// A program started from one folder and then from another: the second takes the icon and
// the command over, and every value is a string ending in its zero byte.
TEST(FileTypeRegistry, ClassesRootHoldsTheEntriesOfTheLatestProgram) {
    if (!std::getenv("KPZ_WRITE_CLASSES_ROOT"))
        GTEST_SKIP() << "rewrites the .kpz association: set KPZ_WRITE_CLASSES_ROOT=1 "
                        "(scripts/test-windows does, in a Wine prefix of its own)";
    // The third path holds characters of no single code page: they reach the registry
    // as they are.
    for (const std::string& program :
         {std::string("C:\\first\\brisko-packer.exe"),
          std::string("D:\\second folder\\brisko-packer.exe"),
          std::string("E:\\M\u00fbsique \u266b \u0416\\brisko-packer.exe")}) {
        SCOPED_TRACE(program);
        ASSERT_EQ(platform::registerFileTypeInClassesRoot(program), "");
        for (const auto& [key, value] : expectedValues(program)) {
            DWORD type = REG_NONE;
            EXPECT_EQ(readDefaultValue(key, type), value) << key;
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << key;
        }
    }
}

TEST(FileTypeRegistry, ThisProgramPathIsTheRunningFile) {
    const std::string path = platform::thisProgramPath();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(GetFileAttributesW(wide(path).c_str()), INVALID_FILE_ATTRIBUTES) << path;
    EXPECT_EQ(path.substr(path.size() - 4), ".exe");
}

#endif

} // namespace
