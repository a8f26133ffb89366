// Registration stubs for the FreeImage plugins this build leaves out because
// their libraries are not built. Each keeps its format's slot, so the
// FREE_IMAGE_FORMAT numbers stay those of the header, but has no validate,
// load or save function: such files are reported as unknown and cannot be
// loaded or saved.
#include "FreeImage.h"
#include "Plugin.h"

#define VELARIX_MISSING_PLUGIN(NAME, FORMAT)                                   \
  static const char *DLL_CALLCONV Format##NAME() { return FORMAT; }            \
  void DLL_CALLCONV Init##NAME(Plugin *plugin, int /*format_id*/) {            \
    plugin->format_proc = Format##NAME;                                         \
  }

VELARIX_MISSING_PLUGIN(EXR, "EXR")
VELARIX_MISSING_PLUGIN(G3, "G3")
VELARIX_MISSING_PLUGIN(J2K, "J2K")
VELARIX_MISSING_PLUGIN(JP2, "JP2")
VELARIX_MISSING_PLUGIN(JXR, "JXR")
VELARIX_MISSING_PLUGIN(RAW, "RAW")
VELARIX_MISSING_PLUGIN(TIFF, "TIFF")
VELARIX_MISSING_PLUGIN(WEBP, "WEBP")
