/* Preloaded into Wine by scripts/build-windows, so that a Windows program's serial port can be a
 * Linux pseudo-terminal. A pseudo-terminal has no modem lines: TIOCMGET on it fails with ENOTTY,
 * and Wine, which reads the modem status on every WaitCommEvent round, then cancels the wait, so
 * QSerialPort never hears a byte. Here such a call on a pseudo-terminal answers as the far end of
 * a null-modem cable would (CTS, DSR and DCD up), and setting DTR or RTS succeeds and does
 * nothing. Any other ioctl, and any ioctl on anything else, is the C library's.
 *
 *   gcc -shared -fPIC -O2 -o ptymodem.so ptymodem.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

/* Unix98 pseudo-terminals: the slave side is a char device of majors 136 to 143; the master side
 * is /dev/ptmx (5, 2) or, through devpts, majors 128 to 135. */
static int isPseudoTerminal(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    const unsigned int maj = major(st.st_rdev);
    return (maj >= 128 && maj <= 143) || (maj == 5 && minor(st.st_rdev) == 2);
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*next)(int, unsigned long, ...);
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (!next)
        next = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");

    const int saved = errno;
    const int result = next(fd, request, arg);
    if (result != -1 || errno != ENOTTY || !isPseudoTerminal(fd))
        return result;
    switch (request) {
    case TIOCMGET:
        *(int *)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_DTR | TIOCM_RTS;
        break;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        break;
    default:
        return result;
    }
    errno = saved;
    return 0;
}
