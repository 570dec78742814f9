#include "platform/gfx/font_aliases.h"

#include <fontconfig/fontconfig.h>

#include <mutex>
#include <string>

#include "platform/log/log.h"

namespace lumvara::gfx {

namespace {

// Windows face names of Chinese fonts.
constexpr const char* kChineseFaces[] = {"宋体",        "SimSun", "新宋体", "NSimSun",  "宋体-ExtB",
                                         "SimSun-ExtB", "黑体",   "SimHei", "微软雅黑", "Microsoft YaHei",
                                         "楷体",        "KaiTi",  "仿宋",   "FangSong"};

// Each face prefers the CJK fonts a Linux desktop usually has; the first one
// installed wins. Latin glyphs come from the same font, as they would from
// the Windows face.
std::string AliasConfig() {
  std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n";
  for (const char* face : kChineseFaces) {
    xml += "  <match target=\"pattern\">\n    <test name=\"family\" qual=\"any\"><string>";
    xml += face;
    xml +=
        "</string></test>\n"
        "    <edit name=\"family\" mode=\"prepend\" binding=\"strong\">"
        "<string>WenQuanYi Micro Hei</string><string>WenQuanYi Zen Hei</string>"
        "<string>Noto Sans CJK SC</string><string>Droid Sans Fallback</string></edit>\n"
        "  </match>\n";
  }
  xml += "</fontconfig>\n";
  return xml;
}

}  // namespace

void EnsureFontAliases() {
  static std::once_flag once;
  std::call_once(once, [] {
    FcInit();
    FcConfig* config = FcConfigGetCurrent();
    const std::string xml = AliasConfig();
    if (!FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(xml.c_str()), FcTrue)) {
      logf("font aliases could not be loaded\n");
    }
  });
}

}  // namespace lumvara::gfx
