/* A FUSE filesystem whose statfs never answers, for proving that a drive query gives up in
 * time. The root directory answers getattr and readdir (so that the mount succeeds); statfs
 * waits for ever. Run: koravex-stuck-fuse -f -s MOUNTPOINT
 * With KORAVEX_FUSE_ANSWER=1 in the environment statfs answers (a 64 MB drive, 16 MB free);
 * stopping the daemon (SIGSTOP) then makes a drive that stops answering. */
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fuse.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int stuck_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    (void)fi;
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") != 0) {
        return -ENOENT;
    }
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
}

static int stuck_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                         struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
    (void)path;
    (void)offset;
    (void)fi;
    (void)flags;
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    return 0;
}

static int stuck_statfs(const char* path, struct statvfs* st) {
    (void)path;
    const char* answer = getenv("KORAVEX_FUSE_ANSWER");
    if (answer != NULL && strcmp(answer, "1") == 0) {
        memset(st, 0, sizeof *st);
        st->f_bsize = st->f_frsize = 4096;
        st->f_blocks = 16384;
        st->f_bfree = st->f_bavail = 4096;
        st->f_namemax = 255;
        return 0;
    }
    for (;;) {
        pause();
    }
    return -EIO;
}

static const struct fuse_operations operations = {
    .getattr = stuck_getattr,
    .readdir = stuck_readdir,
    .statfs = stuck_statfs,
};

int main(int argc, char* argv[]) {
    return fuse_main(argc, argv, &operations, NULL);
}
