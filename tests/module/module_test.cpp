// The module's exports: registration into a temporary registry file, the
// registry queries hosts make, the class objects and the unload check, the
// property page, and lumvara-regsvr.
#include <dlfcn.h>
#include <lumvara/control.h>
#include <lumvara/module.h>
#include <lumvara/window.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry/registry.h"

namespace fs = std::filesystem;
using lumvara::registry::Registry;

namespace {

constexpr char kSafeForInitializing[] = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
constexpr char kSafeForScripting[] = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
constexpr char kIUnknown[] = "{00000000-0000-0000-C000-000000000046}";
constexpr char kIClassFactory[] = "{00000001-0000-0000-C000-000000000046}";

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ClassIdText(const char* progid) {
  LumvaraGuid guid{};
  EXPECT_EQ(lumvara_module_class_id(progid, &guid), 1);
  char text[64];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string LibraryPath() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info);
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) ? resolved : "";
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lumvara-module-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    file_ = root_ / "data" / "lumvara" / "registry";
    setenv("LUMVARA_REGISTRY", file_.c_str(), 1);
    control_ = ClassIdText(LUMVARA_CONTROL_PROGID);
    page_ = ClassIdText(LUMVARA_PROPPAGE_PROGID);
  }
  void TearDown() override {
    unsetenv("LUMVARA_REGISTRY");
    fs::remove_all(root_);
  }

  Registry Load() {
    Registry r;
    EXPECT_TRUE(r.Load(file_.string()));
    return r;
  }

  fs::path root_, file_;
  std::string control_, page_;
};

TEST_F(Registration, RegisterWritesClassesProgIdsTypeLibraryAndBothCategories) {
  ASSERT_EQ(DllRegisterServer(), LUMVARA_S_OK);
  Registry r = Load();
  const std::string cls = "CLSID/" + control_;
  EXPECT_EQ(r.GetValue(cls), "Lumvara Control");
  EXPECT_EQ(r.GetValue(cls + "/InprocServer32"), LibraryPath());
  EXPECT_EQ(r.GetValue(cls + "/InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(r.GetValue(cls + "/ProgID"), LUMVARA_CONTROL_PROGID);
  EXPECT_TRUE(r.HasKey(cls + "/Control"));
  EXPECT_EQ(r.GetValue(cls + "/MiscStatus/1"), "131473");
  EXPECT_EQ(r.GetValue(cls + "/Version"), "1.0");
  EXPECT_EQ(r.GetValue(std::string(LUMVARA_CONTROL_PROGID) + "/CLSID"), control_);
  EXPECT_EQ(r.GetValue("CLSID/" + page_), "Lumvara Property Page");
  EXPECT_EQ(r.GetValue("CLSID/" + page_ + "/InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(r.GetValue(std::string(LUMVARA_PROPPAGE_PROGID) + "/CLSID"), page_);

  const auto library = r.GetValue(cls + "/TypeLib");
  ASSERT_TRUE(library);
  const std::string typelib = "TypeLib/" + *library + "/1.0";
  EXPECT_EQ(r.GetValue(typelib), "LumvaraLib");
  const auto json = r.GetValue(typelib + "/0/json");
  ASSERT_TRUE(json);
  EXPECT_EQ(ReadText(*json), lumvara_control_type_library());

  EXPECT_EQ(r.GetValue(std::string("Component Categories/") + kSafeForInitializing, "409"),
            "Controls safely initializable from persistent data!");
  EXPECT_EQ(r.GetValue(std::string("Component Categories/") + kSafeForScripting, "409"), "Controls safely scriptable!");
  EXPECT_EQ(r.SubKeys(cls + "/Implemented Categories"),
            (std::vector<std::string>{kSafeForScripting, kSafeForInitializing}));
  EXPECT_FALSE(r.HasKey("CLSID/" + page_ + "/Implemented Categories"));
}

TEST_F(Registration, RegisteringAgainChangesNothing) {
  ASSERT_EQ(DllRegisterServer(), LUMVARA_S_OK);
  const std::string once = ReadText(file_);
  ASSERT_EQ(DllRegisterServer(), LUMVARA_S_OK);
  EXPECT_EQ(ReadText(file_), once);
}

TEST_F(Registration, UnregisterKeepsTheCategoriesAndASecondUnregisterFailsChangingNothing) {
  ASSERT_EQ(DllRegisterServer(), LUMVARA_S_OK);
  const auto json = Load().GetValue("TypeLib/" + *Load().GetValue("CLSID/" + control_ + "/TypeLib") + "/1.0/0/json");
  ASSERT_TRUE(json);
  ASSERT_EQ(DllUnregisterServer(), LUMVARA_S_OK);
  Registry r = Load();
  EXPECT_FALSE(r.HasKey("CLSID/" + control_ + "/Implemented Categories"));
  EXPECT_FALSE(r.HasKey("CLSID/" + control_));
  EXPECT_FALSE(r.HasKey("CLSID/" + page_));
  EXPECT_FALSE(r.HasKey(LUMVARA_CONTROL_PROGID));
  EXPECT_FALSE(r.HasKey(LUMVARA_PROPPAGE_PROGID));
  EXPECT_TRUE(r.SubKeys("TypeLib").empty());
  EXPECT_FALSE(fs::exists(*json));
  EXPECT_EQ(r.SubKeys("Component Categories"), (std::vector<std::string>{kSafeForScripting, kSafeForInitializing}));

  const std::string after_first = ReadText(file_);
  EXPECT_EQ(DllUnregisterServer(), LUMVARA_E_FAIL);
  EXPECT_EQ(ReadText(file_), after_first);
}

TEST_F(Registration, UnwritableRegistryFailsAtTheTypeLibraryAndCreatesNothing) {
  // A folder in the way is a plain file: the registry cannot be created
  // there, even by root.
  fs::create_directories(root_);
  std::ofstream(root_ / "blocker") << "x";
  const fs::path inside = root_ / "blocker" / "registry";
  setenv("LUMVARA_REGISTRY", inside.c_str(), 1);
  EXPECT_EQ(DllRegisterServer(), LUMVARA_SELFREG_E_TYPELIB);
  EXPECT_EQ(DllUnregisterServer(), LUMVARA_E_FAIL);
  EXPECT_FALSE(fs::exists(inside));
  EXPECT_EQ(lumvara_registry_query(LUMVARA_CONTROL_PROGID), 0);
}

TEST_F(Registration, HostsAskWhetherAProgIdIsRegisteredAndSafe) {
  EXPECT_EQ(lumvara_registry_is_safe(LUMVARA_CONTROL_PROGID), 0);
  EXPECT_EQ(lumvara_registry_query(LUMVARA_CONTROL_PROGID), 0);
  ASSERT_EQ(DllRegisterServer(), LUMVARA_S_OK);
  const int all =
      LUMVARA_REGISTRY_REGISTERED | LUMVARA_REGISTRY_SAFE_FOR_SCRIPTING | LUMVARA_REGISTRY_SAFE_FOR_INITIALIZING;
  EXPECT_EQ(lumvara_registry_query(LUMVARA_CONTROL_PROGID), all);
  EXPECT_EQ(lumvara_registry_is_safe(LUMVARA_CONTROL_PROGID), 1);
  // The page is registered but not marked safe.
  EXPECT_EQ(lumvara_registry_query(LUMVARA_PROPPAGE_PROGID), LUMVARA_REGISTRY_REGISTERED);
  EXPECT_EQ(lumvara_registry_is_safe(LUMVARA_PROPPAGE_PROGID), 0);
  EXPECT_EQ(lumvara_registry_is_safe("Other.Control.1"), 0);
  EXPECT_EQ(lumvara_registry_is_safe(nullptr), 0);
  EXPECT_EQ(lumvara_registry_is_safe(""), 0);

  // Edits a host would see: one category gone, then the server entry gone.
  struct Case {
    const char* what;
    std::string key;
    int query;
  };
  const Case cases[] = {
      {"no safe-for-scripting mark", "CLSID/" + control_ + "/Implemented Categories/" + kSafeForScripting,
       LUMVARA_REGISTRY_REGISTERED | LUMVARA_REGISTRY_SAFE_FOR_INITIALIZING},
      {"no in-process server", "CLSID/" + control_ + "/InprocServer32", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(lumvara::registry::Update(file_.string(), [&](Registry& r) { return r.DeleteKey(c.key); }));
    EXPECT_EQ(lumvara_registry_query(LUMVARA_CONTROL_PROGID), c.query);
    EXPECT_EQ(lumvara_registry_is_safe(LUMVARA_CONTROL_PROGID), 0);
  }
}

TEST(ModuleGuid, ParsesBothFormsAndRefusesMalformedText) {
  struct Case {
    const char* text;
    int ok;
  };
  const Case cases[] = {
      {"{00000001-0000-0000-C000-000000000046}", 1}, {"00000001-0000-0000-c000-000000000046", 1},
      {"{00000001-0000-0000-C000-00000000004}", 0},  {"{00000001-0000-0000-C000-0000000000467}", 0},
      {"{00000001+0000-0000-C000-000000000046}", 0}, {"{0000000G-0000-0000-C000-000000000046}", 0},
      {"{00000001-0000-0000-C000-000000000046", 0},  {"", 0},
  };
  for (const auto& c : cases) {
    LumvaraGuid guid{};
    EXPECT_EQ(lumvara_guid_parse(c.text, &guid), c.ok) << c.text;
  }
  LumvaraGuid guid{};
  ASSERT_EQ(lumvara_guid_parse("{7DD95801-9882-11CF-9FA9-00AA006C42C4}", &guid), 1);
  EXPECT_EQ(guid.Data1, 0x7DD95801u);
  EXPECT_EQ(guid.Data2, 0x9882);
  EXPECT_EQ(guid.Data3, 0x11CF);
  EXPECT_EQ(guid.Data4[0], 0x9F);
  EXPECT_EQ(guid.Data4[7], 0xC4);
  EXPECT_EQ(lumvara_module_class_id("Other.Control.1", &guid), 0);
}

LumvaraGuid Guid(const char* text) {
  LumvaraGuid guid{};
  lumvara_guid_parse(text, &guid);
  return guid;
}

class ClassObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    top_ = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, "host", 400, 300);
    ASSERT_NE(top_, nullptr);
    lumvara_module_class_id(LUMVARA_CONTROL_PROGID, &control_);
    lumvara_module_class_id(LUMVARA_PROPPAGE_PROGID, &page_);
  }
  void TearDown() override { lumvara_window_destroy(top_); }

  LumvaraClassFactory* Factory(const LumvaraGuid& clsid) {
    void* object = nullptr;
    const LumvaraGuid iid = Guid(kIClassFactory);
    EXPECT_EQ(DllGetClassObject(&clsid, &iid, &object), LUMVARA_S_OK);
    return static_cast<LumvaraClassFactory*>(object);
  }

  LumvaraWindow top_ = nullptr;
  LumvaraGuid control_{}, page_{};
};

TEST_F(ClassObjects, GetClassObjectAnswersForBothClassesAndRefusesOthers) {
  const LumvaraGuid other = Guid("{12345678-1234-1234-1234-123456789ABC}");
  const LumvaraGuid unknown = Guid(kIUnknown);
  const LumvaraGuid factory = Guid(kIClassFactory);
  struct Case {
    const char* what;
    const LumvaraGuid* clsid;
    const LumvaraGuid* iid;
    long result;
  };
  const Case cases[] = {
      {"control, IClassFactory", &control_, &factory, LUMVARA_S_OK},
      {"control, IUnknown", &control_, &unknown, LUMVARA_S_OK},
      {"page, IClassFactory", &page_, &factory, LUMVARA_S_OK},
      {"unknown class", &other, &factory, LUMVARA_CLASS_E_CLASSNOTAVAILABLE},
      {"unknown interface", &control_, &other, LUMVARA_E_NOINTERFACE},
      {"null class", nullptr, &factory, LUMVARA_E_POINTER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(c.clsid, c.iid, &object), c.result);
    if (c.result == LUMVARA_S_OK) {
      ASSERT_NE(object, nullptr);
      auto* f = static_cast<LumvaraClassFactory*>(object);
      f->lpVtbl->Release(f);
    } else {
      EXPECT_EQ(object, nullptr);
    }
  }
  EXPECT_EQ(DllGetClassObject(&control_, &factory, nullptr), LUMVARA_E_POINTER);
}

TEST_F(ClassObjects, CanUnloadOnlyWithoutControlsPagesAndLocks) {
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_OK);
  LumvaraClassFactory* factory = Factory(control_);
  ASSERT_NE(factory, nullptr);
  void* control = nullptr;
  ASSERT_EQ(factory->lpVtbl->CreateInstance(factory, top_, 0, 0, 320, 240, &control), LUMVARA_S_OK);
  ASSERT_NE(control, nullptr);
  EXPECT_NE(lumvara_control_get_dispid(static_cast<LumvaraControl>(control), "PlayVideo"), -1);
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_FALSE);
  EXPECT_EQ(lumvara_control_destroy(static_cast<LumvaraControl>(control)), 1);
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_OK);

  // A control made by the hosting call counts the same.
  LumvaraControl hosted = lumvara_control_create(LUMVARA_CONTROL_PROGID, top_, 0, 0, 320, 240);
  ASSERT_NE(hosted, nullptr);
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_FALSE);
  lumvara_control_destroy(hosted);
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_OK);

  EXPECT_EQ(factory->lpVtbl->LockServer(factory, 1), LUMVARA_S_OK);
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_FALSE);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory, 0), LUMVARA_S_OK);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory, 0), LUMVARA_S_OK);  // one too many: no effect
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_OK);

  LumvaraClassFactory* pages = Factory(page_);
  void* page = nullptr;
  ASSERT_EQ(pages->lpVtbl->CreateInstance(pages, top_, 10, 10, 200, 100, &page), LUMVARA_S_OK);
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_FALSE);
  lumvara_window_destroy(static_cast<LumvaraWindow>(page));
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_OK);
  pages->lpVtbl->Release(pages);
  factory->lpVtbl->Release(factory);
}

TEST_F(ClassObjects, CreateInstanceRefusesBadParentsAndSizes) {
  LumvaraClassFactory* factory = Factory(control_);
  struct Case {
    LumvaraWindow parent;
    int width, height;
  };
  const Case cases[] = {{nullptr, 100, 100}, {top_, 0, 100}, {top_, 100, 16385}};
  for (const auto& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, c.parent, 0, 0, c.width, c.height, &object),
              LUMVARA_E_INVALIDARG);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, top_, 0, 0, 10, 10, nullptr), LUMVARA_E_POINTER);
  EXPECT_EQ(lumvara_property_page_create(nullptr, 0, 0, 10, 10), nullptr);
  EXPECT_EQ(DllCanUnloadNow(), LUMVARA_S_OK);
  factory->lpVtbl->Release(factory);
}

TEST_F(ClassObjects, PropertyPageShowsItsCaptionAndHintOnAPlainFace) {
  EXPECT_STREQ(lumvara_property_page_caption(), "常规");
  LumvaraWindow page = lumvara_property_page_create(top_, 0, 0, 400, 300);
  ASSERT_NE(page, nullptr);
  // Drawn on the first pump that paints.
  std::vector<uint8_t> pixels(400 * 300 * 4);
  int face = 0;
  int ink = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    lumvara_window_pump(20);
    ASSERT_GT(lumvara_window_read_pixels(top_, pixels.data(), static_cast<long>(pixels.size()), 0, nullptr, nullptr),
              0);
    face = ink = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) {
      if (pixels[i] == 240 && pixels[i + 1] == 240 && pixels[i + 2] == 240) ++face;
      if (pixels[i] < 100 && pixels[i + 1] < 100 && pixels[i + 2] < 100) ++ink;
    }
    if (face > 0 && ink > 0) break;
  }
  EXPECT_GT(face, 400 * 300 / 2) << "the page's face fills it";
  EXPECT_GT(ink, 50) << "caption and hint are drawn";
  // Text only in the upper part: the hint is short.
  int ink_low = 0;
  for (int y = 200; y < 300; ++y) {
    for (int x = 0; x < 400; ++x) {
      const uint8_t* p = &pixels[(static_cast<size_t>(y) * 400 + x) * 4];
      if (p[0] < 100 && p[1] < 100 && p[2] < 100) ++ink_low;
    }
  }
  EXPECT_EQ(ink_low, 0);
  EXPECT_EQ(lumvara_window_destroy(page), 1);
}

// ---- lumvara-regsvr ----------------------------------------------------------

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun RunRegsvr(const std::vector<std::string>& args, const std::string& registry) {
  std::string command = "LUMVARA_REGISTRY='" + registry + "' '" + LUMVARA_REGSVR + "'";
  for (const auto& a : args) command += " '" + a + "'";
  command += " 2>&1";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[1024];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(Regsvr, RegistersUnregistersAndReportsTheCode) {
  char pattern[] = "/tmp/lumvara-regsvr-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  const std::string registry = (root / "registry").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* printed;
  };
  const Case cases[] = {
      {{}, 0, "DllRegisterServer"},                // the build tree's library
      {{"-u", LUMVARA_LIBRARY}, 0, "0x00000000"},  // a given path
      {{"-u", LUMVARA_LIBRARY}, 1, "0x80004005"},  // nothing left to remove
      {{LUMVARA_LIBRARY}, 0, "0x00000000"},
      {{"/nonexistent/liblumvara.so"}, 3, "cannot load"},
      {{"-x"}, 2, "usage"},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunRegsvr(c.args, registry);
    SCOPED_TRACE(run.out);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.out.find(c.printed), std::string::npos);
  }
  setenv("LUMVARA_REGISTRY", registry.c_str(), 1);
  EXPECT_EQ(lumvara_registry_is_safe(LUMVARA_CONTROL_PROGID), 1);
  unsetenv("LUMVARA_REGISTRY");
  fs::remove_all(root);
}

}  // namespace
