#pragma once
// Writes a minidump of the calling process from inside a fatal-signal
// handler. Everything here is async-signal-safe: only system calls (open,
// read, write, getdents64, process_vm_readv, clock_gettime), static storage
// and the stack; no allocation, no locks, no stdio. Only one thread may be
// inside WriteMinidump at a time (the crash handler guarantees it).
//
// What a dump holds: system information (x86-64 Linux, processor count, the
// kernel's release), the process id, the exception (signal number, si_code,
// fault address, the faulting thread and its full register context from the
// signal's ucontext), every thread of /proc/self/task (other threads carry
// the stack and instruction pointers the kernel reports for a blocked thread
// in /proc/self/task/<tid>/syscall, and their stack memory from there), the
// module list read from /proc/self/maps with each ELF file's GNU build id
// read from memory, the text of /proc/self/maps, and a memory list holding
// the stacks.

#include <signal.h>
#include <sys/types.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>

namespace lumvara::crash {

// What the handler needs that cannot be learned safely inside it; filled
// once, when the library is loaded.
struct CrashEnvironment {
  char system_text[256];  // "Linux <release> <version> <machine>"
  uint8_t processor_count;
};

// Fills the environment (not async-signal-safe: uname, sysconf).
void PrepareEnvironment(CrashEnvironment* environment);

// Writes the dump to `fd` (open for writing, at offset 0). `info` and
// `context` are the handler's arguments. Returns false when a write failed.
bool WriteMinidump(int fd, int signo, const siginfo_t* info, const ucontext_t* context,
                   const CrashEnvironment& environment);

// The file name of a dump taken at `utc_seconds` in a zone `utc_offset`
// seconds east of UTC: "ocx_CrashDump%4d_%02d_%02d_%02d_%02d_%02d.dmp" with
// the local year, month, day, hour, minute and second. Returns the length
// written to `out` (NUL-terminated), 0 when `capacity` is too small.
// Async-signal-safe.
size_t FormatDumpName(char* out, size_t capacity, int64_t utc_seconds, long utc_offset);

}  // namespace lumvara::crash
