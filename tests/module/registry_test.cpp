// The per-user registry file: keys, values, the text format and atomic,
// locked updates.
#include "platform/registry/registry.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using lumvara::registry::Registry;

namespace {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/lumvara-registry-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

TEST(Registry, DeletingAKeyTakesItsSubkeysButNotKeysThatOnlyShareAPrefix) {
  Registry r;
  r.SetValue("CLSID/{A}/InprocServer32", "", "/lib/a.so");
  r.CreateKey("CLSID/{A}/Implemented Categories/{X}");
  r.SetValue("CLSID/{A}B", "", "neighbour");
  EXPECT_TRUE(r.HasKey("CLSID"));  // parents come with their children
  EXPECT_EQ(r.SubKeys("CLSID"), (std::vector<std::string>{"{A}", "{A}B"}));
  EXPECT_TRUE(r.DeleteKey("CLSID/{A}"));
  EXPECT_FALSE(r.HasKey("CLSID/{A}/Implemented Categories/{X}"));
  EXPECT_FALSE(r.HasKey("CLSID/{A}"));
  EXPECT_EQ(r.GetValue("CLSID/{A}B"), "neighbour");
  EXPECT_FALSE(r.DeleteKey("CLSID/{A}"));
}

TEST(Registry, TextRoundTripKeepsEmptyKeysDefaultValuesAndEscapes) {
  Registry r;
  r.CreateKey("CLSID/{A}/Control");
  r.SetValue("CLSID/{A}", "", "Lumvara Control");
  r.SetValue("CLSID/{A}", "Note", "two\nlines, a \\ and \r");
  r.SetValue("Component Categories/{B}", "409", "Controls safely scriptable!");
  r.SetValue("Text", "caption", "常规");
  const std::string text = r.Serialize();
  EXPECT_NE(text.find("[CLSID/{A}]\n@=Lumvara Control\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[CLSID/{A}/Control]\n"), std::string::npos);
  EXPECT_NE(text.find("Note=two\\nlines, a \\\\ and \\r\n"), std::string::npos);
  Registry back;
  ASSERT_TRUE(back.Parse(text));
  EXPECT_TRUE(back == r);
}

TEST(Registry, MalformedTextIsRefused) {
  const char* cases[] = {
      "value=outside a key\n",
      "[unclosed\n",
      "[]\n",
      "[a//b]\n",
      "[a]\nno equals sign\n",
      "[a]\n=no name\n",
      "[a]\nname=bad escape \\q\n",
      "[a]\nname=trailing backslash \\\n",
  };
  for (const char* text : cases) {
    Registry r;
    EXPECT_FALSE(r.Parse(text)) << text;
    EXPECT_TRUE(r == Registry()) << "left empty after: " << text;
  }
  Registry ok;
  EXPECT_TRUE(ok.Parse("; comment\n# comment\r\n\n[a]\r\nname=va=lue\r\n"));
  EXPECT_EQ(ok.GetValue("a", "name"), "va=lue");
}

TEST(Registry, SaveReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  TempFolder temp;
  const std::string path = (temp.path() / "deep" / "lumvara" / "registry").string();
  Registry r;
  r.SetValue("k", "", "1");
  ASSERT_TRUE(r.Save(path));
  r.SetValue("k", "", "2");
  ASSERT_TRUE(r.Save(path));
  Registry back;
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(back.GetValue("k"), "2");
  int files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 1);
  EXPECT_EQ(fs::status(fs::path(path).parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(Registry, MissingFileIsEmptyAndABrokenOneIsAnError) {
  TempFolder temp;
  Registry r;
  EXPECT_TRUE(r.Load((temp.path() / "none").string()));
  std::ofstream(temp.path() / "broken") << "garbage\n";
  int error = 0;
  EXPECT_FALSE(r.Load((temp.path() / "broken").string(), &error));
  EXPECT_EQ(error, EINVAL);
  bool called = false;
  EXPECT_FALSE(lumvara::registry::Update((temp.path() / "broken").string(), [&](Registry&) {
    called = true;
    return true;
  }));
  EXPECT_FALSE(called);
}

TEST(Registry, ConcurrentUpdatesFromProcessesLoseNothing) {
  TempFolder temp;
  const std::string path = (temp.path() / "registry").string();
  constexpr int kProcesses = 4;
  constexpr int kKeysEach = 25;
  pid_t children[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    children[p] = fork();
    if (children[p] == 0) {
      for (int k = 0; k < kKeysEach; ++k) {
        const bool ok = lumvara::registry::Update(path, [&](Registry& r) {
          r.SetValue("keys/" + std::to_string(p) + "-" + std::to_string(k), "", "x");
          return true;
        });
        if (!ok) _exit(1);
      }
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Registry r;
  ASSERT_TRUE(r.Load(path));
  EXPECT_EQ(r.SubKeys("keys").size(), static_cast<size_t>(kProcesses * kKeysEach));
}

TEST(Registry, UpdateWhoseChangeDeclinesLeavesTheFileUntouched) {
  TempFolder temp;
  const std::string path = (temp.path() / "registry").string();
  ASSERT_TRUE(lumvara::registry::Update(path, [](Registry& r) {
    r.SetValue("a", "", "1");
    return true;
  }));
  const auto before = fs::last_write_time(path);
  const std::string text_before = [&] {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  ASSERT_TRUE(lumvara::registry::Update(path, [](Registry& r) {
    r.SetValue("a", "", "2");
    return false;
  }));
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text_before);
  EXPECT_EQ(fs::last_write_time(path), before);
}

TEST(RegistryPath, OverrideThenXdgDataHomeThenHome) {
  struct Case {
    const char* override_path;
    const char* data_home;
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/tmp/r", "/data", "/home/u", "/tmp/r"},
      {"", "/data", "/home/u", "/data/lumvara/registry"},
      {nullptr, "relative", "/home/u", "/home/u/.local/share/lumvara/registry"},
      {nullptr, nullptr, "/home/u", "/home/u/.local/share/lumvara/registry"},
  };
  auto set = [](const char* name, const char* value) {
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  };
  const std::string saved_home = getenv("HOME") ? getenv("HOME") : "";
  for (const auto& c : cases) {
    set("LUMVARA_REGISTRY", c.override_path);
    set("XDG_DATA_HOME", c.data_home);
    set("HOME", c.home);
    EXPECT_EQ(lumvara::registry::RegistryPath(), c.expected);
  }
  unsetenv("LUMVARA_REGISTRY");
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", saved_home.c_str(), 1);
}

}  // namespace
