// Loading the wyln transport plug-in and mapping its result codes. Used by
// the library's session and by the tools, so that both find the same file.
#pragma once

#include "transport/WylnInterface.h"

#include <QString>

namespace orlin {

// The plug-in's file name on this platform: "wyln.dll" on Windows,
// "libwyln.dylib" on macOS, "libwyln.so" elsewhere.
QString WylnFileName();

// The plug-in's two exports; null when the loaded file lacks one.
struct SWylnEntryPoints
{
    PFN_WYLN_NEW_INTERFACE pfnNewInterface = nullptr;
    PFN_WYLN_RELEASE_INTERFACE pfnReleaseInterface = nullptr;
};

// Loads the plug-in from the executable's directory, or else through the
// system's search path, and resolves its exports. The plug-in stays loaded
// for the life of the process. False when no file loads, with the loader's
// reason in qsError.
bool LoadWylnPlugin(SWylnEntryPoints& entry, QString& qsError);

// The library's code for a transport result: 0 stays 0, the known transport
// codes map to 1 to 8 and 13 to 27, anything else gives -1.
int MapWylnCode(int iRetErrCode);

} // namespace orlin
