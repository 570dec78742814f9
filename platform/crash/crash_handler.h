#pragma once
// The process's crash handler: while the library is loaded, the fatal
// signals SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT write a minidump
// (minidump_writer.h) and then end the process as they would have without
// the library: the handler that was installed before (the host's own crash
// handling, or the default action) runs next with the same signal
// information.
//
// Installed by a load-time constructor of the library and removed by its
// unload-time destructor, which puts back every previous handler that is
// still replaced by ours (a handler the host installed after us is left
// alone).
//
// Where a dump goes: "ocx_CrashDump<YYYY>_<MM>_<DD>_<hh>_<mm>_<ss>.dmp" (local
// time of the crash, with the zone offset taken when the library was loaded)
// in the folder of the host executable (/proc/self/exe); when that folder is
// not writable (programs under /usr/bin), in $XDG_STATE_HOME/lumvara/, by
// default ~/.local/state/lumvara/. A dump of the same second replaces the
// file. Files are created with mode 0600: they hold the process's memory.
//
// Alternate stack: the loading thread gets a 64 KiB signal stack (unless it
// has one already) so a stack overflow there can still be dumped; threads
// without one run the handler on their own stack.

#include <cstddef>

namespace lumvara::crash {

// Installs the handlers (the constructor calls it; repeated calls do
// nothing). Not thread-safe against UninstallCrashHandler.
void InstallCrashHandler();
// Puts the previous handlers back (the destructor calls it).
void UninstallCrashHandler();
// True while our handler is installed for SIGSEGV.
bool CrashHandlerInstalled();

// The folder a dump is written to first (the host executable's) and the
// fallback one, as prepared at load; empty strings before installation.
const char* PrimaryDumpFolder();
const char* FallbackDumpFolder();

}  // namespace lumvara::crash
