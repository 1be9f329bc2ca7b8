/* Preloaded into the test's smbd, before the wrappers.
 *
 * Debian's socket_wrapper (1.3) passes SO_REUSEPORT on to the Unix socket
 * behind a wrapped one, where it fails, and smbd sets it on every listening
 * socket: the option means nothing for a socket only this test reaches.
 *
 * Under uid_wrapper smbd believes it is root and gives each file the owner
 * of its security descriptor; without real root that chown fails. The
 * descriptor smbd stores beside the file is what the test reads, so a
 * refused change of the Unix owner is let pass. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <sys/socket.h>
#include <unistd.h>

#define NEXT(name)               \
  static __typeof__(name)* next; \
  if (next == NULL) next = (__typeof__(name)*)dlsym(RTLD_NEXT, #name)

int setsockopt(int fd, int level, int option, const void* value,
               socklen_t size) {
  NEXT(setsockopt);
  if (level == SOL_SOCKET && option == SO_REUSEPORT) return 0;
  return next(fd, level, option, value, size);
}

static int Owned(int result) {
  return result != 0 && errno == EPERM ? 0 : result;
}

int fchown(int fd, uid_t uid, gid_t gid) {
  NEXT(fchown);
  return Owned(next(fd, uid, gid));
}

int lchown(const char* path, uid_t uid, gid_t gid) {
  NEXT(lchown);
  return Owned(next(path, uid, gid));
}

int chown(const char* path, uid_t uid, gid_t gid) {
  NEXT(chown);
  return Owned(next(path, uid, gid));
}

int fchownat(int dir, const char* path, uid_t uid, gid_t gid, int flags) {
  NEXT(fchownat);
  return Owned(next(dir, path, uid, gid, flags));
}
