/* lumvara-regsvr: registers or unregisters the Lumvara module, as a
   registration tool does: loads the library, calls DllRegisterServer (or,
   with -u, DllUnregisterServer) and prints the result code.

     lumvara-regsvr [-u] [PATH_TO_LIBRARY]

   Without a path it loads liblumvara.so.0 from its own folder, then the
   library of the build tree it was built in, then the installed one, then
   whatever the dynamic loader finds. Exit status: 0 when the call returned
   S_OK, 1 when it returned another code, 2 for a usage error, 3 when the
   library or its entry point cannot be loaded. The registry file is the
   library's ($LUMVARA_REGISTRY, else $XDG_DATA_HOME/lumvara/registry). */
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

typedef long (*RegistrationCall)(void);

static const char kLibraryName[] = "liblumvara.so.0";

static void usage(FILE* out) {
  fprintf(out,
          "usage: lumvara-regsvr [-u] [PATH_TO_LIBRARY]\n"
          "  registers the library (or with -u unregisters it) in the per-user registry\n");
}

/* The folder of this program, with a trailing slash; empty when unknown. */
static void own_folder(char* out, size_t capacity) {
  out[0] = '\0';
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return;
  exe[n] = '\0';
  char* slash = strrchr(exe, '/');
  if (!slash) return;
  slash[1] = '\0';
  snprintf(out, capacity, "%s", exe);
}

static void* load_default(char* chosen, size_t capacity) {
  char folder[PATH_MAX];
  own_folder(folder, sizeof folder);
  char beside[PATH_MAX + sizeof kLibraryName];
  snprintf(beside, sizeof beside, "%s%s", folder, kLibraryName);
  const char* candidates[] = {beside, LUMVARA_BUILD_LIBRARY, LUMVARA_INSTALLED_LIBRARY, kLibraryName};
  for (size_t i = 0; i < sizeof candidates / sizeof candidates[0]; ++i) {
    if (i + 1 < sizeof candidates / sizeof candidates[0] && access(candidates[i], R_OK) != 0) continue;
    void* handle = dlopen(candidates[i], RTLD_NOW | RTLD_LOCAL);
    if (handle) {
      snprintf(chosen, capacity, "%s", candidates[i]);
      return handle;
    }
  }
  return NULL;
}

int main(int argc, char** argv) {
  int unregister = 0;
  const char* path = NULL;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-u") == 0 || strcmp(argv[i], "/u") == 0) {
      unregister = 1;
    } else if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
      usage(stdout);
      return 0;
    } else if (argv[i][0] == '-' || path) {
      usage(stderr);
      return 2;
    } else {
      path = argv[i];
    }
  }

  char chosen[PATH_MAX] = "";
  void* library = NULL;
  if (path) {
    /* A bare name would be searched for by the loader: make it a path. */
    char relative[PATH_MAX];
    if (!strchr(path, '/')) {
      if ((size_t)snprintf(relative, sizeof relative, "./%s", path) >= sizeof relative) {
        fprintf(stderr, "lumvara-regsvr: path too long\n");
        return 2;
      }
      path = relative;
    }
    library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if ((size_t)snprintf(chosen, sizeof chosen, "%s", path) >= sizeof chosen) chosen[0] = '\0';
  } else {
    library = load_default(chosen, sizeof chosen);
  }
  if (!library) {
    const char* error = dlerror();
    fprintf(stderr, "lumvara-regsvr: cannot load %s: %s\n", path ? path : kLibraryName, error ? error : "not found");
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  /* POSIX guarantees that a function's address survives the trip through
     void*; the memcpy keeps ISO C's object/function pointer rule. */
  void* symbol = dlsym(library, entry);
  RegistrationCall call = NULL;
  memcpy(&call, &symbol, sizeof call);
  if (!call) {
    fprintf(stderr, "lumvara-regsvr: %s has no %s\n", chosen, entry);
    return 3;
  }
  const long result = call();
  printf("%s %s: 0x%08lX\n", entry, chosen, (unsigned long)result & 0xFFFFFFFFul);
  /* The library stays loaded until exit: objects it keeps for the process's
     lifetime would otherwise look leaked once its code is gone. */
  return result == 0 ? 0 : 1;
}
