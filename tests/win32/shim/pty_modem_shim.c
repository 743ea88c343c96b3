/* LD_PRELOAD library for the Wine serial suites: a pty refuses the modem-status
 * requests a real serial port answers (TIOCMGET and friends), and Wine's comm-event
 * wait gives up on such a port at once. Here a pty slave answers them as a quiet
 * port would: the modem lines as last set, with CTS and DSR up; no line errors;
 * the transmitter empty. Everything else, and every other descriptor, goes to libc.
 * Wine's 32-bit ntdll calls __ioctl_time64, the 64-bit one ioctl: both are covered. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

enum { kTrackedFds = 4096 };
/* DTR and RTS as the last TIOCMSET/TIOCMBIS/TIOCMBIC left them; a tty opens with both up. */
static int lines_set[kTrackedFds];
static unsigned char lines_known[kTrackedFds];

static int is_pty_slave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  /* Unix98 pty slaves */
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int *lines_of(int fd) {
  static int spare;
  if (fd < 0 || fd >= kTrackedFds) return &spare;
  if (!lines_known[fd]) {
    lines_known[fd] = 1;
    lines_set[fd] = TIOCM_DTR | TIOCM_RTS;
  }
  return &lines_set[fd];
}

/* 1 when the request was answered here. */
static int answer(int fd, unsigned long request, void *arg) {
  int *lines;
  switch (request) {
    case TIOCMGET: *(int *)arg = (*lines_of(fd) & (TIOCM_DTR | TIOCM_RTS)) | TIOCM_CTS | TIOCM_DSR; return 1;
    case TIOCMSET: *lines_of(fd) = *(const int *)arg & (TIOCM_DTR | TIOCM_RTS); return 1;
    case TIOCMBIS:
      lines = lines_of(fd);
      *lines |= *(const int *)arg & (TIOCM_DTR | TIOCM_RTS);
      return 1;
    case TIOCMBIC:
      lines = lines_of(fd);
      *lines &= ~*(const int *)arg;
      return 1;
    case TIOCGICOUNT: memset(arg, 0, sizeof(struct serial_icounter_struct)); return 1;
    case TIOCSERGETLSR: *(unsigned int *)arg = TIOCSER_TEMT; return 1;
    default: return 0;
  }
}

static int interpose(ioctl_fn real, int fd, unsigned long request, void *arg) {
  const int saved = errno;
  const int result = real(fd, request, arg);
  /* Only the refusal of a working pty; a hung-up one (EIO) keeps failing as a port that went away. */
  if (result == -1 && (errno == ENOTTY || errno == EINVAL) && arg && is_pty_slave(fd) && answer(fd, request, arg)) {
    errno = saved;
    return 0;
  }
  return result;
}

int ioctl(int fd, unsigned long request, ...) {
  static ioctl_fn real;
  va_list ap;
  void *arg;
  va_start(ap, request);
  arg = va_arg(ap, void *);
  va_end(ap);
  if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  return interpose(real, fd, request, arg);
}

int __ioctl_time64(int fd, unsigned long request, ...) {
  static ioctl_fn real;
  va_list ap;
  void *arg;
  va_start(ap, request);
  arg = va_arg(ap, void *);
  va_end(ap);
  if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "__ioctl_time64");
  if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  return interpose(real, fd, request, arg);
}
