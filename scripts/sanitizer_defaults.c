/* Default options for the sanitizer builds (scripts/sanitize.sh links this
 * into every program). The tests run the installer with a clean environment,
 * so options cannot come from ASAN_OPTIONS; they are compiled in instead.
 *
 * A sanitizer report ends the program with status 86, a value no test
 * expects, so a report can never pass for an ordinary failure status.
 *
 * The installer changes its root to a scratch folder without /proc, where the
 * leak checker cannot list the process's threads and would fail every run; it
 * gets the leak check switched off, and so does any program started inside
 * such a root (no /proc to read its own name from). The test programs keep it. */
#include <sys/syscall.h>
#include <unistd.h>

/* Called while the sanitizer runtime starts, before its interceptors work:
 * only a raw system call and hand-written string loops are safe here. */
static int sameText(const char* a, const char* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

static int leaksUncheckable(void) {
  char path[4096];
  long n = syscall(SYS_readlink, "/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return 1;
  path[n] = '\0';
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/') base = p + 1;
  return sameText(base, "installer") || sameText(base, ".installer");
}

const char* __asan_default_options(void) {
  return leaksUncheckable() ? "exitcode=86:detect_leaks=0:abort_on_error=0"
                            : "exitcode=86:detect_leaks=1:abort_on_error=0";
}

const char* __ubsan_default_options(void) { return "exitcode=86:print_stacktrace=1:halt_on_error=1"; }
