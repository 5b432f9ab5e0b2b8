// The kernel's cost of handing out the mount table, two ways: the text of
// /proc/self/mountinfo read whole, against listmount(2) and one statmount(2) per mount asking
// only for what the drive table uses. CPU time of this process and wall time per whole read,
// median of RUNS. bench/many_mounts.sh runs it beside the snapshot figures.
// Usage: mount_reads [RUNS]
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "tests/support/statmount_abi.h"

static char* text;
static const size_t textSize = 16u << 20;
static uint64_t* ids;
static const size_t idsSize = 1u << 20;
static char* status;
static const size_t statusSize = 16384;

static double ms(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}
static int byValue(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}
static long readText(int fd) {
    size_t length = 0;
    ssize_t n;
    while ((n = pread(fd, text + length, textSize - length, (off_t)length)) > 0)
        length += (size_t)n;
    return n < 0 ? -1 : (long)length;
}
static long listAll(void) {
    const size_t chunk = 65536;  // the kernel refuses a request for a million ids at once
    long total = 0;
    for (;;) {
        struct koravex_mnt_request r = {24, 0, KORAVEX_LIST_FROM_ROOT, total ? ids[total - 1] : 0};
        long n = syscall(KORAVEX_NR_LISTMOUNT, &r, ids + total, chunk, 0);
        if (n < 0)
            return -1;
        total += n;
        if ((size_t)n < chunk || (size_t)total + chunk > idsSize)
            return total;
    }
}
static long statAll(long count, uint64_t mask, long* bytes) {
    long answered = 0;
    for (long i = 0; i < count; ++i) {
        struct koravex_mnt_request r = {24, 0, ids[i], mask};
        if (syscall(KORAVEX_NR_STATMOUNT, &r, status, statusSize, 0) < 0) {
            if (errno == ENOENT)
                continue;  // unmounted meanwhile
            perror("statmount");
            exit(1);
        }
        *bytes += ((struct koravex_mount_status*)status)->size;
        ++answered;
    }
    return answered;
}

int main(int argc, char** argv) {
    int runs = argc > 1 ? atoi(argv[1]) : 20;
    if (runs < 1 || runs > 1000)
        runs = 20;
    text = malloc(textSize);
    ids = malloc(idsSize * sizeof *ids);
    status = malloc(statusSize);
    double* cpu = malloc((size_t)runs * sizeof *cpu);
    double* wall = malloc((size_t)runs * sizeof *wall);
    int fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (!text || !ids || !status || !cpu || !wall || fd < 0) {
        perror("mount_reads");
        return 1;
    }
    long length = readText(fd), lines = 0;
    for (long i = 0; i < length; ++i)
        lines += text[i] == '\n';
    long count = listAll();
    printf("mountinfo: %ld lines, %ld bytes; listmount: ", lines, length);
    if (count < 0) {
        printf("not here (%s)\n", errno == ENOSYS ? "ENOSYS" : "error");
        return 0;
    }
    printf("%ld ids\n", count);
    const uint32_t basic = KORAVEX_SM_SB_BASIC | KORAVEX_SM_MNT_BASIC;
    const struct {
        const char* name;
        uint32_t mask;
        int kind;  // 0 text, 1 list alone, 2 list and status
    } cases[] = {
        {"mountinfo text, whole", 0, 0},
        {"listmount alone", 0, 1},
        {"listmount + statmount(device, ids)", basic, 2},
        {"listmount + statmount(device, ids, point)", basic | KORAVEX_SM_MNT_POINT, 2},
        {"listmount + statmount(device, ids, point, type, source)",
         basic | KORAVEX_SM_MNT_POINT | KORAVEX_SM_FS_TYPE | KORAVEX_SM_FS_SUBTYPE |
             KORAVEX_SM_SB_SOURCE,
         2},
    };
    for (size_t c = 0; c < sizeof cases / sizeof cases[0]; ++c) {
        long bytes = 0;
        for (int i = 0; i < runs; ++i) {
            double w0 = ms(CLOCK_MONOTONIC), c0 = ms(CLOCK_PROCESS_CPUTIME_ID);
            if (cases[c].kind == 0) {
                readText(fd);
            } else {
                long n = listAll();
                if (cases[c].kind == 2)
                    statAll(n, cases[c].mask, &bytes);
            }
            cpu[i] = ms(CLOCK_PROCESS_CPUTIME_ID) - c0;
            wall[i] = ms(CLOCK_MONOTONIC) - w0;
        }
        qsort(cpu, (size_t)runs, sizeof *cpu, byValue);
        qsort(wall, (size_t)runs, sizeof *wall, byValue);
        printf("%-56s CPU %7.3f ms (min %7.3f, max %7.3f), wall %7.3f ms", cases[c].name,
               cpu[runs / 2], cpu[0], cpu[runs - 1], wall[runs / 2]);
        if (bytes)
            printf(", %ld bytes a mount", bytes / runs / count);
        printf("\n");
    }
    return 0;
}
