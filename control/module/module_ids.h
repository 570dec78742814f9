#pragma once
// The module's own identifiers and texts: the property page's class, the
// type names, the control's misc status and the two component categories
// (the standard identifiers every browser checks). The control's class and
// the type library's identifiers are the dispatch layer's (guids.h).

namespace lumvara::control {

inline constexpr char kControlProgId[] = "LUMVARA.LumvaraCtrl.1";
inline constexpr char kPropPageProgId[] = "LUMVARA.LumvaraPropPage.1";
inline constexpr char kPropPageClassGuid[] = "{7B93694B-3FF3-46B1-9A92-6A62F5519D12}";

// Resource strings 1, 2 and 200.
inline constexpr char kControlTypeName[] = "Lumvara Control";
inline constexpr char kPropPageTypeName[] = "Lumvara Property Page";
inline constexpr char kPropPageCaption[] = "常规";

// Activate when visible, set client site first, inside-out, cannot link
// inside, recompose on resize.
inline constexpr long kControlMiscStatus = 131473;
inline constexpr char kThreadingModel[] = "Apartment";
// The toolbox bitmap's resource number.
inline constexpr int kToolboxBitmap = 1;

inline constexpr char kCatidSafeForInitializing[] = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
inline constexpr char kCatidSafeForScripting[] = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
inline constexpr char kSafeForInitializingText[] = "Controls safely initializable from persistent data!";
inline constexpr char kSafeForScriptingText[] = "Controls safely scriptable!";
// Locale of the category descriptions (English, United States).
inline constexpr unsigned kCategoryLocale = 0x409;
// Category descriptions are cut to this many characters.
inline constexpr unsigned kMaxCategoryText = 127;

// Standard interface identifiers a class factory answers to.
inline constexpr char kIidIUnknown[] = "{00000000-0000-0000-C000-000000000046}";
inline constexpr char kIidIClassFactory[] = "{00000001-0000-0000-C000-000000000046}";

}  // namespace lumvara::control
