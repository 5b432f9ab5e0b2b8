/* A FUSE filesystem for drive tests, whose statfs answers at once, late or never.
 * The root directory and a subdirectory "sub" (a place to mount another filesystem under
 * this one) answer getattr and readdir, so that the mount and lookups succeed.
 * Run: koravex-stuck-fuse -f -s MOUNTPOINT
 *   KORAVEX_FUSE_ANSWER=1       statfs answers at once (a 64 MB drive, 16 MB free);
 *   KORAVEX_FUSE_DELAY_MS=N     statfs answers after N milliseconds;
 *   neither                     statfs reads the request and never answers;
 *   KORAVEX_FUSE_LOG=FILE       each statfs taken adds a line to FILE first.
 * Stopping the daemon (SIGSTOP) makes a drive that stops answering, also for lookups. */
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int stuck_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    (void)fi;
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") != 0 && strcmp(path, "/sub") != 0) {
        return -ENOENT;
    }
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
}

static int stuck_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                         struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
    (void)offset;
    (void)fi;
    (void)flags;
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    if (strcmp(path, "/") == 0) {
        fill(buf, "sub", NULL, 0, 0);
    }
    return 0;
}

static int stuck_statfs(const char* path, struct statvfs* st) {
    (void)path;
    const char* answer = getenv("KORAVEX_FUSE_ANSWER");
    const char* delay = getenv("KORAVEX_FUSE_DELAY_MS");
    const char* log = getenv("KORAVEX_FUSE_LOG");
    if (log != NULL) {
        int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            (void)!write(fd, "statfs\n", 7);
            close(fd);
        }
    }
    if (delay != NULL) {
        long ms = strtol(delay, NULL, 10);
        struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
        while (nanosleep(&t, &t) != 0) {
        }
    } else if (answer == NULL || strcmp(answer, "1") != 0) {
        for (;;) {
            pause();
        }
    }
    memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = 4096;
    st->f_blocks = 16384;
    st->f_bfree = st->f_bavail = 4096;
    st->f_namemax = 255;
    return 0;
}

static const struct fuse_operations operations = {
    .getattr = stuck_getattr,
    .readdir = stuck_readdir,
    .statfs = stuck_statfs,
};

int main(int argc, char* argv[]) {
    return fuse_main(argc, argv, &operations, NULL);
}
