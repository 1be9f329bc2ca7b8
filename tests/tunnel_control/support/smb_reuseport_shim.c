/* Lets smbd listen through Debian's socket_wrapper 1.3, which passes
 * SO_REUSEPORT on to the Unix socket behind a wrapped one and fails there:
 * the option means nothing for a socket only this test connects to. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stddef.h>
#include <sys/socket.h>

int setsockopt(int fd, int level, int name, const void* value,
               socklen_t size) {
  static int (*next)(int, int, int, const void*, socklen_t);
  if (level == SOL_SOCKET && name == SO_REUSEPORT) return 0;
  if (next == NULL) next = dlsym(RTLD_NEXT, "setsockopt");
  return next(fd, level, name, value, size);
}
