/* A host program for the crash tests: it may install its own handler,
   loads liblumvara.so with dlopen and then crashes (or unloads it).

     crash_helper LIBRARY segv|abort|fpe|ill|bus|overflow [host] [thread]
       host:   install a handler for the signal first; it prints
               "host handler ran" and exits with status 77
       thread: start a second thread that blocks before crashing
       both:   a second thread crashes at the same moment
     crash_helper LIBRARY unload
       exits 0 when loading replaced the host's SIGSEGV handler and
       unloading put it back

   Before crashing it prints "tid=<id of the crashing thread>". */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static void host_handler(int signo) {
  (void)signo;
  static const char text[] = "host handler ran\n";
  ssize_t ignored = write(1, text, sizeof text - 1);
  (void)ignored;
  _exit(77);
}

static void install_host(int signo) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = host_handler;
  sigemptyset(&action.sa_mask);
  sigaction(signo, &action, NULL);
}

void lumvara_test_crash_here(void);

static volatile long blocked_tid;

static void* blocked_thread(void* arg) {
  (void)arg;
  blocked_tid = (long)syscall(SYS_gettid);
  for (;;) pause();
  return NULL;
}

static pthread_barrier_t start_together;

/* Crashes at the same moment as the main thread. */
static void* crashing_thread(void* arg) {
  (void)arg;
  pthread_barrier_wait(&start_together);
  lumvara_test_crash_here();
  return NULL;
}

/* Waits (up to 10 s) until the second thread sleeps in the kernel. */
static void wait_until_blocked(void) {
  for (int i = 0; i < 10000; ++i) {
    if (blocked_tid) {
      char path[64];
      snprintf(path, sizeof path, "/proc/self/task/%ld/stat", blocked_tid);
      FILE* stat = fopen(path, "r");
      char text[512] = "";
      if (stat) {
        size_t n = fread(text, 1, sizeof text - 1, stat);
        text[n] = '\0';
        fclose(stat);
      }
      const char* state = strrchr(text, ')');
      if (state && state[1] == ' ' && state[2] == 'S') return;
    }
    struct timespec pause_time = {0, 1000000};
    nanosleep(&pause_time, NULL);
  }
}

/* The faulting functions, kept out of line so a debugger names them. */
__attribute__((noinline)) void lumvara_test_write_through_null(volatile int* where) { *where = 42; }

__attribute__((noinline)) void lumvara_test_crash_here(void) { lumvara_test_write_through_null(NULL); }

__attribute__((noinline)) int lumvara_test_divide(volatile int divisor) { return 1000 / divisor; }

/* An undefined instruction: SIGILL. */
__attribute__((noinline)) void lumvara_test_trap(void) { __builtin_trap(); }

/* Reads a mapped page past the end of its file: SIGBUS. */
__attribute__((noinline)) int lumvara_test_bus(void) {
  FILE* file = tmpfile();
  if (!file) return 1;
  volatile char* page = mmap(NULL, 4096, PROT_READ, MAP_SHARED, fileno(file), 0);
  if (page == MAP_FAILED) return 1;
  return page[0];
}

/* Runs off the end of the stack: the handler has to run on its own stack.
   The limit is never reached; it only tells the compiler the recursion ends. */
__attribute__((noinline)) int lumvara_test_recurse(volatile int depth) {
  volatile char frame[1024];
  frame[0] = (char)depth;
  if (depth == 0x7FFFFFFF) return frame[0];
  return lumvara_test_recurse(depth + 1) + frame[0];
}

static void* load(const char* library) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    exit(2);
  }
  return handle;
}

static int unload_check(const char* library) {
  install_host(SIGSEGV);
  void* handle = load(library);
  struct sigaction current;
  sigaction(SIGSEGV, NULL, &current);
  if (current.sa_handler == host_handler) {
    fprintf(stderr, "loading did not install a handler\n");
    return 3;
  }
  if (dlclose(handle) != 0) {
    fprintf(stderr, "dlclose: %s\n", dlerror());
    return 4;
  }
  sigaction(SIGSEGV, NULL, &current);
  if (current.sa_handler != host_handler) {
    fprintf(stderr, "unloading did not restore the host's handler\n");
    return 5;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s LIBRARY segv|abort|fpe|ill|bus|overflow|unload [host] [thread]\n", argv[0]);
    return 2;
  }
  const char* mode = argv[2];
  if (strcmp(mode, "unload") == 0) return unload_check(argv[1]);
  const int signo = strcmp(mode, "abort") == 0 ? SIGABRT
                    : strcmp(mode, "fpe") == 0 ? SIGFPE
                    : strcmp(mode, "ill") == 0 ? SIGILL
                    : strcmp(mode, "bus") == 0 ? SIGBUS
                                               : SIGSEGV;
  int host = 0;
  int thread = 0;
  int both = 0;
  for (int i = 3; i < argc; ++i) {
    if (strcmp(argv[i], "host") == 0) host = 1;
    if (strcmp(argv[i], "thread") == 0) thread = 1;
    if (strcmp(argv[i], "both") == 0) both = 1;
  }
  if (host) install_host(signo);
  load(argv[1]);
  if (thread) {
    pthread_t other;
    pthread_create(&other, NULL, blocked_thread, NULL);
    wait_until_blocked();
  }
  if (both) {
    pthread_t other;
    pthread_barrier_init(&start_together, NULL, 2);
    pthread_create(&other, NULL, crashing_thread, NULL);
  }
  printf("tid=%ld\n", (long)syscall(SYS_gettid));
  fflush(stdout);
  if (both) pthread_barrier_wait(&start_together);
  if (signo == SIGABRT) abort();
  if (signo == SIGFPE) return lumvara_test_divide(0);
  if (signo == SIGILL) lumvara_test_trap();
  if (signo == SIGBUS) return lumvara_test_bus();
  if (strcmp(mode, "overflow") == 0) return lumvara_test_recurse(0);
  lumvara_test_crash_here();
  return 0;
}
