// Test stand-in for a launched program: records how it was started.
// Writes to $ARGV_RECORDER_FILE: one line per argument (hex-encoded, so any
// byte survives), then "session-leader=0|1" and "stdin-null=0|1".
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv) {
  const char *path = std::getenv("ARGV_RECORDER_FILE");
  if (!path)
    return 2;
  std::FILE *out = std::fopen(path, "w");
  if (!out)
    return 3;
  for (int i = 0; i < argc; ++i) {
    std::fprintf(out, "arg=");
    for (const char *c = argv[i]; *c; ++c)
      std::fprintf(out, "%02x", static_cast<unsigned char>(*c));
    std::fprintf(out, "\n");
  }
  struct stat in {
  }, null{};
  bool stdin_null = fstat(0, &in) == 0 && stat("/dev/null", &null) == 0 &&
                    in.st_rdev == null.st_rdev && S_ISCHR(in.st_mode);
  std::fprintf(out, "session-leader=%d\n", getsid(0) == getpid() ? 1 : 0);
  std::fprintf(out, "stdin-null=%d\n", stdin_null ? 1 : 0);
  std::fclose(out);
  return 0;
}
