// The shared library's own translation unit; its contents come from the
// component libraries linked in whole.
#include "lumvara/lumvara.h"
