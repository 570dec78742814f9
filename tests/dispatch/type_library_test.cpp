// The type library generated from the member table: its JSON, its
// TypeScript declaration, and the files the build writes for installation.
#include "control/dispatch/type_library.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "control/dispatch/dispatch_table.h"
#include "control/dispatch/guids.h"

namespace lumvara::control {
namespace {

nlohmann::json Library() {
  nlohmann::json lib = nlohmann::json::parse(TypeLibraryJson(), nullptr, false);
  EXPECT_FALSE(lib.is_discarded()) << TypeLibraryJson();
  return lib;
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const nlohmann::json* Find(const nlohmann::json& list, const std::string& name) {
  for (const auto& item : list) {
    if (item.at("name") == name) return &item;
  }
  return nullptr;
}

TEST(TypeLibrary, JsonNamesTheLibraryInterfacesAndClassWithFixedGuids) {
  const nlohmann::json lib = Library();
  EXPECT_EQ(lib.at("name"), "LumvaraLib");
  EXPECT_EQ(lib.at("version"), "1.0");
  EXPECT_EQ(lib.at("guid"), kTypeLibraryGuid);
  ASSERT_EQ(lib.at("interfaces").size(), 2u);
  EXPECT_EQ(lib["interfaces"][0].at("name"), "_DLumvara");
  EXPECT_EQ(lib["interfaces"][0].at("guid"), kDispatchInterfaceGuid);
  EXPECT_EQ(lib["interfaces"][1].at("name"), "_DLumvaraEvents");
  EXPECT_EQ(lib["interfaces"][1].at("guid"), kEventInterfaceGuid);
  ASSERT_EQ(lib.at("classes").size(), 1u);
  const auto& cls = lib["classes"][0];
  EXPECT_EQ(cls.at("name"), "Lumvara");
  EXPECT_EQ(cls.at("guid"), kControlClassGuid);
  EXPECT_EQ(cls.at("progid"), "LUMVARA.LumvaraCtrl.1");
  EXPECT_EQ(cls.at("interface"), "_DLumvara");
  EXPECT_EQ(cls.at("events"), "_DLumvaraEvents");

  const std::regex guid("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  const std::set<std::string> all = {kTypeLibraryGuid, kDispatchInterfaceGuid, kEventInterfaceGuid, kControlClassGuid};
  EXPECT_EQ(all.size(), 4u);
  for (const std::string& g : all) EXPECT_TRUE(std::regex_match(g, guid)) << g;
}

TEST(TypeLibrary, JsonListsEveryMemberOfTheTable) {
  const nlohmann::json lib = Library();
  const auto& methods = lib["interfaces"][0].at("methods");
  const auto& properties = lib["interfaces"][0].at("properties");
  const auto& events = lib["interfaces"][1].at("events");
  EXPECT_EQ(methods.size(), 24u);
  EXPECT_EQ(properties.size(), 9u);
  EXPECT_EQ(events.size(), 2u);

  for (const MemberInfo& m : InterfaceMembers()) {
    SCOPED_TRACE(m.name);
    const nlohmann::json* entry = Find(m.kind == MemberKind::kMethod ? methods : properties, m.name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->at("dispid"), m.dispid);
    if (m.kind == MemberKind::kProperty) {
      EXPECT_EQ(entry->at("vt"), static_cast<int>(m.type));
      continue;
    }
    EXPECT_EQ(entry->at("vt"), static_cast<int>(m.type));
    ASSERT_EQ(entry->at("params").size(), m.params.size());
    for (size_t i = 0; i < m.params.size(); ++i) {
      EXPECT_EQ(entry->at("params")[i].at("name"), m.params[i].name);
      EXPECT_EQ(entry->at("params")[i].at("vt"), static_cast<int>(m.params[i].type));
    }
  }
  const nlohmann::json* play = Find(methods, "PlayVideo");
  ASSERT_NE(play, nullptr);
  EXPECT_EQ(play->at("result"), "long");
  EXPECT_EQ(play->at("params")[0].at("type"), "string");
  EXPECT_EQ(play->at("params")[0].at("maxBytes"), 63);
  EXPECT_EQ(play->at("params")[3].at("type"), "long");
  EXPECT_EQ(Find(methods, "ShowMax")->at("result"), "void");
  EXPECT_EQ(Find(methods, "SetFocus")->at("help"), "0:no focus  1:focus");
  EXPECT_EQ(Find(properties, "RecFilePath")->at("type"), "string");

  const nlohmann::json* searched = Find(events, "OnCameraSearched");
  ASSERT_NE(searched, nullptr);
  EXPECT_EQ(searched->at("dispid"), 2);
  EXPECT_EQ(searched->at("params").size(), 7u);
  EXPECT_EQ(searched->at("params")[6].at("name"), "iIsSameSubNet");
}

TEST(TypeLibrary, TypeScriptDeclaresPromisesPropertiesAndHandlers) {
  const std::string ts = TypeLibraryTypeScript();
  for (const char* line : {
           "export interface Lumvara extends EventTarget {",
           "  PlayVideo(user: string, pwd: string, ip: string, port: number, streamid: number, audioid: number): "
           "Promise<number>;",
           "  ShowMax(): Promise<void>;",
           "  SetRecordProperty(fileLen: number, timeLen: number, reserved: number, cover: number): Promise<void>;",
           "  SetOsd(osd: string): Promise<number>;",
           "  /** 0:no focus  1:focus */",
           "  SoundState: number;",
           "  RecFilePath: string;",
           "  onMessageNotify: ((lType: number, lParame: number) => void) | null;",
           "  onOnCameraSearched: ((iStatus: number, pszDevName: string, pszIpAddr: string, iPort: number, "
           "iCmdPort: number, iDataPort: number, iIsSameSubNet: number) => void) | null;",
           "  MessageNotify: CustomEvent<{ lType: number; lParame: number; }>;",
           "  GetVersion: 33;",
       }) {
    EXPECT_NE(ts.find(std::string(line) + "\n"), std::string::npos) << line;
  }
  // One method line per method, one property line per property.
  size_t promises = 0;
  for (size_t at = ts.find("): Promise<"); at != std::string::npos; at = ts.find("): Promise<", at + 1)) ++promises;
  EXPECT_EQ(promises, 24u);
}

TEST(TypeLibrary, InstalledFilesAreTheGeneratedText) {
  EXPECT_EQ(ReadFile(LUMVARA_TYPELIB_JSON), TypeLibraryJson());
  EXPECT_EQ(ReadFile(LUMVARA_TYPELIB_TS), TypeLibraryTypeScript());
}

}  // namespace
}  // namespace lumvara::control
