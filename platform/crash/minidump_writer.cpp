#include "platform/crash/minidump_writer.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cpuid.h>
#include <cstring>

#include "platform/crash/minidump_format.h"

namespace lumvara::crash {

namespace {

// ---- Static storage: the handler allocates nothing -------------------------

constexpr size_t kMapsCapacity = 512 * 1024;
constexpr size_t kMaxMappings = 8192;
constexpr size_t kMaxThreads = 512;
constexpr size_t kMaxModules = 1024;
constexpr size_t kMaxBuildId = 64;
// Stack copied per thread above its stack pointer, and the red zone below it.
constexpr uint64_t kMaxStackBytes = 512 * 1024;
constexpr uint64_t kRedZone = 128;
constexpr size_t kStreamCount = 7;

struct Mapping {
  uint64_t start;
  uint64_t end;
  uint64_t offset;
  uint64_t inode;
  uint32_t path;  // offset of the path in g_maps
  uint32_t path_length;
  bool readable;
};

struct ThreadEntry {
  pid_t tid;
  bool have_pointers;  // sp and pc known
  uint64_t sp;
  uint64_t pc;
  uint64_t stack_start;
  uint64_t stack_size;
  uint32_t stack_rva;
};

struct ModuleEntry {
  uint64_t base;
  uint64_t end;
  uint32_t path;
  uint32_t path_length;
  uint32_t build_id_size;
  uint8_t build_id[kMaxBuildId];
};

char g_maps[kMapsCapacity];
size_t g_maps_size;
Mapping g_mappings[kMaxMappings];
size_t g_mapping_count;
ThreadEntry g_threads[kMaxThreads];
size_t g_thread_count;
ModuleEntry g_modules[kMaxModules];
size_t g_module_count;
ContextAmd64 g_context;
char g_dirents[16384];
char g_small[512];
const uint8_t g_zeros[4096] = {};

// ---- Small safe helpers ------------------------------------------------------

pid_t Gettid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

size_t Length(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

// Reads a whole (small) file into `buffer`, NUL-terminated. Returns its length.
size_t ReadFile(const char* path, char* buffer, size_t capacity) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  size_t size = 0;
  while (size + 1 < capacity) {
    const ssize_t n = read(fd, buffer + size, capacity - 1 - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<size_t>(n);
  }
  close(fd);
  buffer[size] = '\0';
  return size;
}

bool ParseHex(const char*& p, uint64_t* value) {
  if (p[0] == '0' && p[1] == 'x') p += 2;
  uint64_t v = 0;
  const char* begin = p;
  for (;; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      v = v << 4 | static_cast<uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      v = v << 4 | static_cast<uint64_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      v = v << 4 | static_cast<uint64_t>(c - 'A' + 10);
    } else {
      break;
    }
  }
  *value = v;
  return p != begin;
}

bool ParseDecimal(const char*& p, uint64_t* value) {
  uint64_t v = 0;
  const char* begin = p;
  for (; *p >= '0' && *p <= '9'; ++p) v = v * 10 + static_cast<uint64_t>(*p - '0');
  *value = v;
  return p != begin;
}

// Appends the decimal digits of `value` to `out` at `*at`.
void AppendDecimal(char* out, size_t* at, uint64_t value) {
  char digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  while (n) out[(*at)++] = digits[--n];
}

void AppendText(char* out, size_t* at, const char* text) {
  while (*text) out[(*at)++] = *text++;
}

const Mapping* FindMapping(uint64_t address) {
  for (size_t i = 0; i < g_mapping_count; ++i) {
    if (address >= g_mappings[i].start && address < g_mappings[i].end) return &g_mappings[i];
  }
  return nullptr;
}

bool Readable(uint64_t address, size_t size) {
  uint64_t at = address;
  const uint64_t end = address + size;
  while (at < end) {
    const Mapping* mapping = FindMapping(at);
    if (!mapping || !mapping->readable) return false;
    at = mapping->end;
  }
  return true;
}

// Copies memory of this process without faulting: through process_vm_readv
// (which reports a bad address instead of raising a signal), or, where the
// call is refused, directly from ranges the maps show as readable.
bool ReadMemory(uint64_t address, void* out, size_t size) {
  iovec local{out, size};
  iovec remote{reinterpret_cast<void*>(address), size};
  const long n = syscall(SYS_process_vm_readv, getpid(), &local, 1UL, &remote, 1UL, 0UL);
  if (n == static_cast<long>(size)) return true;
  if (n < 0 && (errno == ENOSYS || errno == EPERM) && Readable(address, size)) {
    std::memcpy(out, reinterpret_cast<const void*>(address), size);
    return true;
  }
  return false;
}

// ---- Gathering ---------------------------------------------------------------

// Parses /proc/self/maps into g_mappings; the text stays as read, for the
// maps stream.
void ReadMappings() {
  g_mapping_count = 0;
  g_maps_size = ReadFile("/proc/self/maps", g_maps, kMapsCapacity);
  char* p = g_maps;
  char* const end = g_maps + g_maps_size;
  while (p < end && g_mapping_count < kMaxMappings) {
    char* line_end = p;
    while (line_end < end && *line_end != '\n') ++line_end;
    const char* q = p;
    Mapping m{};
    uint64_t ignored = 0;
    bool ok = ParseHex(q, &m.start) && *q++ == '-' && ParseHex(q, &m.end) && *q++ == ' ';
    if (ok) {
      m.readable = q[0] == 'r';
      q += 4;
      ok = *q++ == ' ' && ParseHex(q, &m.offset) && *q++ == ' ';
    }
    if (ok) {
      // Device "major:minor".
      ok = ParseHex(q, &ignored) && *q++ == ':' && ParseHex(q, &ignored) && *q++ == ' ' && ParseDecimal(q, &m.inode);
    }
    if (ok) {
      while (q < line_end && *q == ' ') ++q;
      m.path = static_cast<uint32_t>(q - g_maps);
      m.path_length = static_cast<uint32_t>(line_end - q);
      g_mappings[g_mapping_count++] = m;
    }
    p = line_end + 1;
  }
}

bool SamePath(const Mapping& a, const Mapping& b) {
  return a.path_length == b.path_length && std::memcmp(g_maps + a.path, g_maps + b.path, a.path_length) == 0;
}

// The GNU build id of the ELF image mapped at `base`.
void ReadBuildId(ModuleEntry* module) {
  module->build_id_size = 0;
  Elf64_Ehdr header;
  if (!ReadMemory(module->base, &header, sizeof header)) return;
  if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0 || header.e_phnum > 64) return;
  Elf64_Phdr phdrs[64];
  if (!ReadMemory(module->base + header.e_phoff, phdrs, header.e_phnum * sizeof(Elf64_Phdr))) return;
  // The first loadable segment starts at the mapping's base.
  uint64_t first_vaddr = 0;
  bool have_load = false;
  for (int i = 0; i < header.e_phnum; ++i) {
    if (phdrs[i].p_type == PT_LOAD) {
      first_vaddr = phdrs[i].p_vaddr & ~static_cast<uint64_t>(4095);
      have_load = true;
      break;
    }
  }
  if (!have_load) return;
  const uint64_t bias = module->base - first_vaddr;
  for (int i = 0; i < header.e_phnum; ++i) {
    if (phdrs[i].p_type != PT_NOTE) continue;
    uint8_t* notes = reinterpret_cast<uint8_t*>(g_small);
    size_t size = phdrs[i].p_filesz;
    if (size > sizeof g_small) size = sizeof g_small;
    if (!ReadMemory(bias + phdrs[i].p_vaddr, notes, size)) continue;
    size_t at = 0;
    while (at + sizeof(Elf64_Nhdr) <= size) {
      Elf64_Nhdr note;
      std::memcpy(&note, notes + at, sizeof note);
      const size_t name_at = at + sizeof note;
      const size_t desc_at = name_at + ((note.n_namesz + 3) & ~3u);
      const size_t next = desc_at + ((note.n_descsz + 3) & ~3u);
      if (next > size) break;
      if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(notes + name_at, "GNU", 4) == 0 &&
          note.n_descsz <= kMaxBuildId) {
        std::memcpy(module->build_id, notes + desc_at, note.n_descsz);
        module->build_id_size = note.n_descsz;
        return;
      }
      at = next;
    }
  }
}

// One module per ELF file mapped from its start: its range runs over every
// following mapping of the same file.
void CollectModules() {
  g_module_count = 0;
  for (size_t i = 0; i < g_mapping_count && g_module_count < kMaxModules; ++i) {
    const Mapping& m = g_mappings[i];
    if (m.offset != 0 || m.inode == 0 || !m.readable || m.path_length == 0 || g_maps[m.path] != '/') continue;
    char magic[4];
    if (!ReadMemory(m.start, magic, sizeof magic) || std::memcmp(magic, ELFMAG, SELFMAG) != 0) continue;
    ModuleEntry& module = g_modules[g_module_count];
    module.base = m.start;
    module.end = m.end;
    module.path = m.path;
    module.path_length = m.path_length;
    for (size_t j = i + 1; j < g_mapping_count; ++j) {
      if (g_mappings[j].inode != m.inode || !SamePath(g_mappings[j], m)) break;
      module.end = g_mappings[j].end;
    }
    ReadBuildId(&module);
    ++g_module_count;
  }
}

// The stack range of a thread: from just below its stack pointer (the red
// zone) up to the end of the mapping that holds it, at most kMaxStackBytes.
void FindStack(ThreadEntry* thread) {
  thread->stack_start = 0;
  thread->stack_size = 0;
  if (!thread->have_pointers) return;
  const Mapping* mapping = FindMapping(thread->sp);
  if (!mapping || !mapping->readable) return;
  uint64_t start = thread->sp >= kRedZone ? thread->sp - kRedZone : 0;
  if (start < mapping->start) start = mapping->start;
  uint64_t end = mapping->end;
  if (end - start > kMaxStackBytes) end = start + kMaxStackBytes;
  thread->stack_start = start;
  thread->stack_size = end - start;
}

// A blocked thread's "syscall" file ends with its stack and instruction
// pointers ("<nr> <args...> <sp> <pc>", or "-1 <sp> <pc>"); a running one
// says "running".
void ReadThreadPointers(ThreadEntry* thread) {
  char path[64];
  size_t at = 0;
  AppendText(path, &at, "/proc/self/task/");
  AppendDecimal(path, &at, static_cast<uint64_t>(thread->tid));
  AppendText(path, &at, "/syscall");
  path[at] = '\0';
  const size_t size = ReadFile(path, g_small, sizeof g_small);
  uint64_t numbers[16];
  size_t count = 0;
  const char* p = g_small;
  if (size == 0 || *p == 'r') return;
  if (*p == '-') ++p;
  while (*p && count < 16) {
    while (*p == ' ' || *p == '\n') ++p;
    if (!*p) break;
    uint64_t value = 0;
    if (!ParseHex(p, &value)) return;
    numbers[count++] = value;
  }
  if (count < 3) return;
  thread->sp = numbers[count - 2];
  thread->pc = numbers[count - 1];
  thread->have_pointers = true;
}

// The crashing thread first, then every other thread of /proc/self/task.
void CollectThreads(pid_t crashing, const ucontext_t* context) {
  g_thread_count = 0;
  ThreadEntry& first = g_threads[g_thread_count++];
  first = ThreadEntry{};
  first.tid = crashing;
  if (context) {
    first.sp = static_cast<uint64_t>(context->uc_mcontext.gregs[REG_RSP]);
    first.pc = static_cast<uint64_t>(context->uc_mcontext.gregs[REG_RIP]);
    first.have_pointers = true;
  }
  const int dir = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  for (;;) {
    const long n = syscall(SYS_getdents64, dir, g_dirents, sizeof g_dirents);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name.
      uint16_t reclen;
      std::memcpy(&reclen, g_dirents + at + 16, sizeof reclen);
      const char* name = g_dirents + at + 19;
      uint64_t tid = 0;
      const char* p = name;
      if (ParseDecimal(p, &tid) && *p == '\0' && static_cast<pid_t>(tid) != crashing && g_thread_count < kMaxThreads) {
        ThreadEntry& thread = g_threads[g_thread_count++];
        thread = ThreadEntry{};
        thread.tid = static_cast<pid_t>(tid);
        ReadThreadPointers(&thread);
      }
      at += reclen;
    }
  }
  close(dir);
}

void FillContext(ContextAmd64* out, const ucontext_t* context) {
  std::memset(out, 0, sizeof *out);
  out->ContextFlags = kContextControl | kContextInteger | kContextSegments | kContextFloatingPoint;
  const greg_t* g = context->uc_mcontext.gregs;
  auto reg = [g](int index) { return static_cast<uint64_t>(g[index]); };
  out->Rax = reg(REG_RAX);
  out->Rbx = reg(REG_RBX);
  out->Rcx = reg(REG_RCX);
  out->Rdx = reg(REG_RDX);
  out->Rsi = reg(REG_RSI);
  out->Rdi = reg(REG_RDI);
  out->Rbp = reg(REG_RBP);
  out->Rsp = reg(REG_RSP);
  out->R8 = reg(REG_R8);
  out->R9 = reg(REG_R9);
  out->R10 = reg(REG_R10);
  out->R11 = reg(REG_R11);
  out->R12 = reg(REG_R12);
  out->R13 = reg(REG_R13);
  out->R14 = reg(REG_R14);
  out->R15 = reg(REG_R15);
  out->Rip = reg(REG_RIP);
  out->EFlags = static_cast<uint32_t>(reg(REG_EFL));
  // cs, gs, fs and ss, 16 bits each from the low end.
  const uint64_t segments = reg(REG_CSGSFS);
  out->SegCs = static_cast<uint16_t>(segments);
  out->SegGs = static_cast<uint16_t>(segments >> 16);
  out->SegFs = static_cast<uint16_t>(segments >> 32);
  out->SegSs = static_cast<uint16_t>(segments >> 48);
  if (context->uc_mcontext.fpregs) {
    static_assert(sizeof(*context->uc_mcontext.fpregs) == sizeof out->FltSave);
    std::memcpy(out->FltSave, context->uc_mcontext.fpregs, sizeof out->FltSave);
    out->MxCsr = context->uc_mcontext.fpregs->mxcsr;
  }
}

// A thread known only by its stack and instruction pointers.
void FillPointerContext(ContextAmd64* out, const ThreadEntry& thread) {
  std::memset(out, 0, sizeof *out);
  out->ContextFlags = kContextControl | kContextInteger;
  out->Rsp = thread.sp;
  out->Rip = thread.pc;
}

// ---- Writing -----------------------------------------------------------------

struct Output {
  int fd;
  uint32_t position;
  bool ok;

  void Write(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size && ok) {
      const ssize_t n = write(fd, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        return;
      }
      p += n;
      size -= static_cast<size_t>(n);
      position += static_cast<uint32_t>(n);
    }
  }

  void Zeros(size_t size) {
    while (size && ok) {
      const size_t n = size < sizeof g_zeros ? size : sizeof g_zeros;
      Write(g_zeros, n);
      size -= n;
    }
  }

  void Align4() { Zeros((4 - position % 4) % 4); }

  // Writes process memory straight from its address: write() reports a page
  // that cannot be read (EFAULT) instead of faulting; such bytes become zeros
  // so that every later offset stays where the directory says.
  void Memory(uint64_t address, size_t size) {
    while (size && ok) {
      const ssize_t n = write(fd, reinterpret_cast<const void*>(address), size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (errno != EFAULT) {
          ok = false;
          return;
        }
        const size_t page_rest = 4096 - address % 4096;
        const size_t skip = page_rest < size ? page_rest : size;
        Zeros(skip);
        address += skip;
        size -= skip;
        continue;
      }
      address += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
      position += static_cast<uint32_t>(n);
    }
  }
};

// UTF-8 decoding into UTF-16 code units; malformed bytes become U+FFFD.
// Returns the number of units; with `out` null it only counts.
size_t Utf16Units(const char* text, size_t length, uint16_t* out) {
  size_t units = 0;
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  const auto* const end = p + length;
  while (p < end) {
    uint32_t c = *p++;
    int extra = 0;
    if (c >= 0xF0 && c < 0xF8) {
      c &= 0x07, extra = 3;
    } else if (c >= 0xE0) {
      c &= 0x0F, extra = 2;
    } else if (c >= 0xC0) {
      c &= 0x1F, extra = 1;
    } else if (c >= 0x80) {
      c = 0xFFFD;
    }
    for (; extra > 0; --extra) {
      if (p == end || (*p & 0xC0) != 0x80) {
        c = 0xFFFD;
        break;
      }
      c = c << 6 | (*p++ & 0x3F);
    }
    if (c >= 0x10000 && c <= 0x10FFFF) {
      if (out) {
        out[units] = static_cast<uint16_t>(0xD800 + ((c - 0x10000) >> 10));
        out[units + 1] = static_cast<uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      }
      units += 2;
    } else {
      if (out) out[units] = static_cast<uint16_t>(c > 0x10FFFF ? 0xFFFD : c);
      units += 1;
    }
  }
  return units;
}

// Size of a MINIDUMP_STRING of `text`: length, units, a NUL unit, padding to 4.
uint32_t StringSize(const char* text, size_t length) {
  const uint32_t size = 4 + 2 * static_cast<uint32_t>(Utf16Units(text, length, nullptr)) + 2;
  return (size + 3) & ~3u;
}

void WriteString(Output& out, const char* text, size_t length) {
  const uint32_t units = static_cast<uint32_t>(Utf16Units(text, length, nullptr));
  const uint32_t bytes = units * 2;
  out.Write(&bytes, sizeof bytes);
  // Converted through static storage (the directory buffer is free by now).
  uint16_t* converted = reinterpret_cast<uint16_t*>(g_dirents);
  if (units + 1 <= sizeof g_dirents / 2) {
    Utf16Units(text, length, converted);
    converted[units] = 0;
    out.Write(converted, 2 * (units + 1));
  } else {
    out.Zeros(2 * (units + 1));  // longer than any path the kernel shows
  }
  out.Align4();
}

uint32_t NameSize(const ModuleEntry& module) { return StringSize(g_maps + module.path, module.path_length); }

uint32_t CvSize(const ModuleEntry& module) { return module.build_id_size ? ((4 + module.build_id_size + 3) & ~3u) : 0; }

void FillCpuInfo(SystemInfo* info) {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
    info->VendorId[0] = ebx;
    info->VendorId[1] = edx;
    info->VendorId[2] = ecx;
  }
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
    info->VersionInformation = eax;
    info->FeatureInformation = edx;
    uint32_t family = (eax >> 8) & 0xF;
    uint32_t model = (eax >> 4) & 0xF;
    if (family == 0xF) family += (eax >> 20) & 0xFF;
    if (family >= 6) model += ((eax >> 16) & 0xF) << 4;
    info->ProcessorLevel = static_cast<uint16_t>(family);
    info->ProcessorRevision = static_cast<uint16_t>(model << 8 | (eax & 0xF));
  }
  if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx)) info->AMDExtendedCpuFeatures = edx;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2 ? 1 : 0);
}

void AppendTwoDigits(char* out, size_t* at, unsigned value) {
  out[(*at)++] = static_cast<char>('0' + value / 10 % 10);
  out[(*at)++] = static_cast<char>('0' + value % 10);
}

}  // namespace

void PrepareEnvironment(CrashEnvironment* environment) {
  std::memset(environment, 0, sizeof *environment);
  utsname names{};
  if (uname(&names) == 0) {
    size_t at = 0;
    const char* parts[] = {"Linux", names.release, names.version, names.machine};
    for (const char* part : parts) {
      for (const char* p = part; *p && at + 2 < sizeof environment->system_text; ++p) {
        environment->system_text[at++] = *p;
      }
      if (at + 2 < sizeof environment->system_text) environment->system_text[at++] = ' ';
    }
    if (at > 0) environment->system_text[at - 1] = '\0';
  }
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  environment->processor_count = static_cast<uint8_t>(cpus < 1 ? 1 : cpus > 255 ? 255 : cpus);
}

size_t FormatDumpName(char* out, size_t capacity, int64_t utc_seconds, long utc_offset) {
  const int64_t local = utc_seconds + utc_offset;
  int64_t days = local / 86400;
  int64_t rest = local % 86400;
  if (rest < 0) rest += 86400, --days;
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  // "%4d" pads to four places with spaces; years outside 0...9999 are not
  // reached by a real clock, so they are clamped rather than widened.
  if (year < 0) year = 0;
  if (year > 9999) year = 9999;
  constexpr char kPrefix[] = "ocx_CrashDump";
  constexpr size_t kLength = sizeof kPrefix - 1 + 4 + 5 * 3 + 4;  // prefix, year, _mm x5, ".dmp"
  if (capacity < kLength + 1) return 0;
  size_t at = 0;
  AppendText(out, &at, kPrefix);
  char year_text[4] = {' ', ' ', ' ', ' '};
  int64_t y = year;
  for (int i = 3; i >= 0; --i) {
    year_text[i] = static_cast<char>('0' + y % 10);
    y /= 10;
    if (y == 0) break;
  }
  for (char c : year_text) out[at++] = c;
  const unsigned fields[] = {month, day, static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest / 60 % 60),
                             static_cast<unsigned>(rest % 60)};
  for (unsigned field : fields) {
    out[at++] = '_';
    AppendTwoDigits(out, &at, field);
  }
  AppendText(out, &at, ".dmp");
  out[at] = '\0';
  return at;
}

bool WriteMinidump(int fd, int signo, const siginfo_t* info, const ucontext_t* context,
                   const CrashEnvironment& environment) {
  const pid_t crashing = Gettid();
  ReadMappings();
  CollectModules();
  CollectThreads(crashing, context);
  for (size_t i = 0; i < g_thread_count; ++i) FindStack(&g_threads[i]);
  const size_t system_text_length = Length(environment.system_text);

  // Layout, in file order: header, directory, system information and its
  // text, process id, exception, the crashing thread's context, the thread
  // list, the other threads' contexts, the module list with names and build
  // ids, the maps text, the memory list, and the stack memory (16-aligned).
  static uint32_t name_rvas[kMaxModules];
  static uint32_t cv_rvas[kMaxModules];
  uint32_t rva = sizeof(Header);
  const uint32_t directory_rva = rva;
  rva += kStreamCount * sizeof(Directory);
  const uint32_t system_rva = rva;
  rva += sizeof(SystemInfo);
  const uint32_t csd_rva = rva;
  rva += StringSize(environment.system_text, system_text_length);
  const uint32_t misc_rva = rva;
  rva += sizeof(MiscInfo);
  const uint32_t exception_rva = rva;
  rva += sizeof(ExceptionStream);
  const uint32_t context_rva = rva;
  rva += sizeof(ContextAmd64);
  const uint32_t threads_rva = rva;
  const uint32_t threads_size = 4 + static_cast<uint32_t>(g_thread_count * sizeof(Thread));
  rva += threads_size;
  const uint32_t other_contexts_rva = rva;
  rva += static_cast<uint32_t>((g_thread_count - 1) * sizeof(ContextAmd64));
  const uint32_t modules_rva = rva;
  const uint32_t modules_size = 4 + static_cast<uint32_t>(g_module_count * sizeof(Module));
  rva += modules_size;
  for (size_t i = 0; i < g_module_count; ++i) {
    name_rvas[i] = rva;
    rva += NameSize(g_modules[i]);
  }
  for (size_t i = 0; i < g_module_count; ++i) {
    cv_rvas[i] = rva;
    rva += CvSize(g_modules[i]);
  }
  const uint32_t maps_rva = rva;
  const auto maps_size = static_cast<uint32_t>(g_maps_size);
  rva = (rva + maps_size + 3) & ~3u;
  const uint32_t memory_list_rva = rva;
  uint32_t memory_count = 0;
  for (size_t i = 0; i < g_thread_count; ++i) memory_count += g_threads[i].stack_size ? 1 : 0;
  const uint32_t memory_list_size = 4 + memory_count * static_cast<uint32_t>(sizeof(MemoryDescriptor));
  rva += memory_list_size;
  const uint32_t memory_rva = (rva + 15) & ~15u;
  rva = memory_rva;
  for (size_t i = 0; i < g_thread_count; ++i) {
    g_threads[i].stack_rva = g_threads[i].stack_size ? rva : 0;
    rva += static_cast<uint32_t>(g_threads[i].stack_size);
  }

  Output out{fd, 0, true};
  Header header{};
  header.Signature = kMinidumpSignature;
  header.Version = kMinidumpVersion;
  header.NumberOfStreams = kStreamCount;
  header.StreamDirectoryRva = directory_rva;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  header.TimeDateStamp = static_cast<uint32_t>(now.tv_sec);
  out.Write(&header, sizeof header);
  const Directory directory[kStreamCount] = {
      {kSystemInfoStream, {sizeof(SystemInfo), system_rva}},
      {kMiscInfoStream, {sizeof(MiscInfo), misc_rva}},
      {kExceptionStream, {sizeof(ExceptionStream), exception_rva}},
      {kThreadListStream, {threads_size, threads_rva}},
      {kModuleListStream, {modules_size, modules_rva}},
      {kLinuxMapsStream, {maps_size, maps_rva}},
      {kMemoryListStream, {memory_list_size, memory_list_rva}},
  };
  out.Write(directory, sizeof directory);

  SystemInfo system{};
  system.ProcessorArchitecture = kProcessorArchitectureAmd64;
  system.NumberOfProcessors = environment.processor_count;
  system.PlatformId = kPlatformLinux;
  system.CSDVersionRva = csd_rva;
  FillCpuInfo(&system);
  out.Write(&system, sizeof system);
  WriteString(out, environment.system_text, system_text_length);

  MiscInfo misc{};
  misc.SizeOfInfo = sizeof misc;
  misc.Flags1 = kMiscInfoProcessId;
  misc.ProcessId = static_cast<uint32_t>(getpid());
  out.Write(&misc, sizeof misc);

  ExceptionStream exception{};
  exception.ThreadId = static_cast<uint32_t>(crashing);
  exception.Exception.ExceptionCode = static_cast<uint32_t>(signo);
  exception.Exception.ExceptionFlags = info ? static_cast<uint32_t>(info->si_code) : 0;
  exception.Exception.ExceptionAddress = info ? reinterpret_cast<uint64_t>(info->si_addr) : 0;
  exception.ThreadContext = {sizeof(ContextAmd64), context_rva};
  out.Write(&exception, sizeof exception);
  if (context) {
    FillContext(&g_context, context);
  } else {
    FillPointerContext(&g_context, g_threads[0]);
  }
  out.Write(&g_context, sizeof g_context);

  const auto thread_count = static_cast<uint32_t>(g_thread_count);
  out.Write(&thread_count, sizeof thread_count);
  for (size_t i = 0; i < g_thread_count; ++i) {
    const ThreadEntry& t = g_threads[i];
    Thread thread{};
    thread.ThreadId = static_cast<uint32_t>(t.tid);
    thread.Stack.StartOfMemoryRange = t.stack_start;
    thread.Stack.Memory = {static_cast<uint32_t>(t.stack_size), t.stack_rva};
    const uint32_t own_context =
        i == 0 ? context_rva : other_contexts_rva + static_cast<uint32_t>((i - 1) * sizeof(ContextAmd64));
    thread.ThreadContext = {sizeof(ContextAmd64), own_context};
    out.Write(&thread, sizeof thread);
  }
  for (size_t i = 1; i < g_thread_count; ++i) {
    FillPointerContext(&g_context, g_threads[i]);
    out.Write(&g_context, sizeof g_context);
  }

  const auto module_count = static_cast<uint32_t>(g_module_count);
  out.Write(&module_count, sizeof module_count);
  for (size_t i = 0; i < g_module_count; ++i) {
    const ModuleEntry& m = g_modules[i];
    Module module{};
    module.BaseOfImage = m.base;
    module.SizeOfImage = static_cast<uint32_t>(m.end - m.base);
    module.ModuleNameRva = name_rvas[i];
    if (m.build_id_size) module.CvRecord = {4 + m.build_id_size, cv_rvas[i]};
    out.Write(&module, sizeof module);
  }
  for (size_t i = 0; i < g_module_count; ++i) {
    WriteString(out, g_maps + g_modules[i].path, g_modules[i].path_length);
  }
  for (size_t i = 0; i < g_module_count; ++i) {
    const ModuleEntry& m = g_modules[i];
    if (!m.build_id_size) continue;
    const uint32_t signature = kCvSignatureElfBuildId;
    out.Write(&signature, sizeof signature);
    out.Write(m.build_id, m.build_id_size);
    out.Align4();
  }

  out.Write(g_maps, maps_size);
  out.Align4();

  out.Write(&memory_count, sizeof memory_count);
  for (size_t i = 0; i < g_thread_count; ++i) {
    const ThreadEntry& t = g_threads[i];
    if (!t.stack_size) continue;
    const MemoryDescriptor memory{t.stack_start, {static_cast<uint32_t>(t.stack_size), t.stack_rva}};
    out.Write(&memory, sizeof memory);
  }
  if (out.position <= memory_rva) out.Zeros(memory_rva - out.position);
  for (size_t i = 0; i < g_thread_count; ++i) {
    if (g_threads[i].stack_size) out.Memory(g_threads[i].stack_start, g_threads[i].stack_size);
  }
  return out.ok;
}

}  // namespace lumvara::crash
