#pragma once
// Makes the Chinese Windows face names (宋体 / SimSun and the others) name
// an installed CJK font through fontconfig. Idempotent and thread-safe; the
// drawing layer calls it before it resolves any font.

namespace lumvara::gfx {

void EnsureFontAliases();

}  // namespace lumvara::gfx
