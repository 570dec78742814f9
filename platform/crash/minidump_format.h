#pragma once
// The minidump file layout (the "MDMP" container that debuggers such as lldb
// open with -c): a header, a stream directory and the streams it points to.
// Every field is little-endian, which is the machine's order on x86-64; the
// structures are packed to the layout's 4-byte alignment and their sizes and
// offsets are checked below.

#include <cstddef>
#include <cstdint>

namespace lumvara::crash {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "minidumps are written in the machine's order");

inline constexpr uint32_t kMinidumpSignature = 0x504D444D;  // "MDMP"
inline constexpr uint32_t kMinidumpVersion = 0xA793;

// Stream types.
inline constexpr uint32_t kThreadListStream = 3;
inline constexpr uint32_t kModuleListStream = 4;
inline constexpr uint32_t kMemoryListStream = 5;
inline constexpr uint32_t kExceptionStream = 6;
inline constexpr uint32_t kSystemInfoStream = 7;
inline constexpr uint32_t kMiscInfoStream = 15;
inline constexpr uint32_t kLinuxMapsStream = 0x47670009;  // text of /proc/self/maps

// System information.
inline constexpr uint16_t kProcessorArchitectureAmd64 = 9;
inline constexpr uint32_t kPlatformLinux = 0x8201;

// x86-64 register context flags.
inline constexpr uint32_t kContextAmd64 = 0x00100000;
inline constexpr uint32_t kContextControl = kContextAmd64 | 0x1;   // rip, rsp, rbp, cs, ss, eflags
inline constexpr uint32_t kContextInteger = kContextAmd64 | 0x2;   // the general registers
inline constexpr uint32_t kContextSegments = kContextAmd64 | 0x4;  // ds, es, fs, gs
inline constexpr uint32_t kContextFloatingPoint = kContextAmd64 | 0x8;

// Code-view record signature of an ELF build id: the id's bytes follow it.
inline constexpr uint32_t kCvSignatureElfBuildId = 0x4C457042;  // "BpEL"

inline constexpr uint32_t kMiscInfoProcessId = 0x1;

#pragma pack(push, 4)

struct LocationDescriptor {
  uint32_t DataSize;
  uint32_t Rva;
};

struct MemoryDescriptor {
  uint64_t StartOfMemoryRange;
  LocationDescriptor Memory;
};

struct Header {
  uint32_t Signature;
  uint32_t Version;
  uint32_t NumberOfStreams;
  uint32_t StreamDirectoryRva;
  uint32_t CheckSum;
  uint32_t TimeDateStamp;
  uint64_t Flags;
};

struct Directory {
  uint32_t StreamType;
  LocationDescriptor Location;
};

struct SystemInfo {
  uint16_t ProcessorArchitecture;
  uint16_t ProcessorLevel;
  uint16_t ProcessorRevision;
  uint8_t NumberOfProcessors;
  uint8_t ProductType;
  uint32_t MajorVersion;
  uint32_t MinorVersion;
  uint32_t BuildNumber;
  uint32_t PlatformId;
  uint32_t CSDVersionRva;
  uint16_t SuiteMask;
  uint16_t Reserved2;
  uint32_t VendorId[3];
  uint32_t VersionInformation;
  uint32_t FeatureInformation;
  uint32_t AMDExtendedCpuFeatures;
};

struct ExceptionRecord {
  uint32_t ExceptionCode;   // the signal number
  uint32_t ExceptionFlags;  // the signal's si_code
  uint64_t ExceptionRecord;
  uint64_t ExceptionAddress;  // si_addr
  uint32_t NumberParameters;
  uint32_t UnusedAlignment;
  uint64_t ExceptionInformation[15];
};

struct ExceptionStream {
  uint32_t ThreadId;
  uint32_t Alignment;
  ExceptionRecord Exception;
  LocationDescriptor ThreadContext;
};

struct Thread {
  uint32_t ThreadId;
  uint32_t SuspendCount;
  uint32_t PriorityClass;
  uint32_t Priority;
  uint64_t Teb;
  MemoryDescriptor Stack;
  LocationDescriptor ThreadContext;
};

struct FixedFileInfo {
  uint32_t Signature;
  uint32_t StrucVersion;
  uint32_t FileVersionMS;
  uint32_t FileVersionLS;
  uint32_t ProductVersionMS;
  uint32_t ProductVersionLS;
  uint32_t FileFlagsMask;
  uint32_t FileFlags;
  uint32_t FileOS;
  uint32_t FileType;
  uint32_t FileSubtype;
  uint32_t FileDateMS;
  uint32_t FileDateLS;
};

struct Module {
  uint64_t BaseOfImage;
  uint32_t SizeOfImage;
  uint32_t CheckSum;
  uint32_t TimeDateStamp;
  uint32_t ModuleNameRva;  // a MINIDUMP_STRING: byte length, then UTF-16
  FixedFileInfo VersionInfo;
  LocationDescriptor CvRecord;
  LocationDescriptor MiscRecord;
  uint64_t Reserved0;
  uint64_t Reserved1;
};

struct MiscInfo {
  uint32_t SizeOfInfo;
  uint32_t Flags1;
  uint32_t ProcessId;
  uint32_t ProcessCreateTime;
  uint32_t ProcessUserTime;
  uint32_t ProcessKernelTime;
};

struct M128 {
  uint64_t Low;
  uint64_t High;
};

// The x86-64 thread context.
struct ContextAmd64 {
  uint64_t P1Home, P2Home, P3Home, P4Home, P5Home, P6Home;
  uint32_t ContextFlags;
  uint32_t MxCsr;
  uint16_t SegCs, SegDs, SegEs, SegFs, SegGs, SegSs;
  uint32_t EFlags;
  uint64_t Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
  uint64_t Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi;
  uint64_t R8, R9, R10, R11, R12, R13, R14, R15;
  uint64_t Rip;
  uint8_t FltSave[512];  // the FXSAVE area
  M128 VectorRegister[26];
  uint64_t VectorControl;
  uint64_t DebugControl;
  uint64_t LastBranchToRip;
  uint64_t LastBranchFromRip;
  uint64_t LastExceptionToRip;
  uint64_t LastExceptionFromRip;
};

#pragma pack(pop)

static_assert(sizeof(LocationDescriptor) == 8);
static_assert(sizeof(MemoryDescriptor) == 16);
static_assert(sizeof(Header) == 32);
static_assert(sizeof(Directory) == 12);
static_assert(sizeof(SystemInfo) == 56);
static_assert(offsetof(SystemInfo, PlatformId) == 20);
static_assert(offsetof(SystemInfo, VendorId) == 32);
static_assert(sizeof(ExceptionRecord) == 152);
static_assert(sizeof(ExceptionStream) == 168);
static_assert(offsetof(ExceptionStream, ThreadContext) == 160);
static_assert(sizeof(Thread) == 48);
static_assert(offsetof(Thread, Stack) == 24);
static_assert(sizeof(FixedFileInfo) == 52);
static_assert(sizeof(Module) == 108);
static_assert(offsetof(Module, ModuleNameRva) == 20);
static_assert(offsetof(Module, CvRecord) == 76);
static_assert(sizeof(MiscInfo) == 24);
static_assert(sizeof(ContextAmd64) == 1232);
static_assert(offsetof(ContextAmd64, ContextFlags) == 48);
static_assert(offsetof(ContextAmd64, EFlags) == 68);
static_assert(offsetof(ContextAmd64, Rax) == 120);
static_assert(offsetof(ContextAmd64, Rip) == 248);
static_assert(offsetof(ContextAmd64, FltSave) == 256);
static_assert(offsetof(ContextAmd64, VectorRegister) == 768);

}  // namespace lumvara::crash
