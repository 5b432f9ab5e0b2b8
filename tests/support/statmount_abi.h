#pragma once
// listmount(2) and statmount(2), for systems whose headers predate them (Linux 6.8 and
// later have the calls; the source and sub-type fields came in 6.14, the
// supported mask in 6.15): numbers, flags and the
// layouts as the kernel documents them. C and C++ alike.
#include <stdint.h>

#define KORAVEX_NR_STATMOUNT 457
#define KORAVEX_NR_LISTMOUNT 458
#define KORAVEX_LIST_FROM_ROOT (~(uint64_t)0)
#define KORAVEX_SM_SB_BASIC 0x1u      // sb_dev_major, sb_dev_minor
#define KORAVEX_SM_MNT_BASIC 0x2u     // mnt_id_old (the id mountinfo shows), its parent
#define KORAVEX_SM_MNT_POINT 0x10u    // where it is mounted
#define KORAVEX_SM_FS_TYPE 0x20u      // "tmpfs", "fuse"
#define KORAVEX_SM_FS_SUBTYPE 0x100u  // "sshfs" of "fuse.sshfs"
#define KORAVEX_SM_SB_SOURCE 0x200u   // "/dev/sda1", "server:/export"
#define KORAVEX_SM_SUPPORTED 0x1000u  // supported_mask: the fields this kernel knows

// The question: which mount (or, to listmount, below which), and the fields wanted (or the
// last id already listed).
struct koravex_mnt_request {
    uint32_t size;  // 24
    uint32_t spare;
    uint64_t mnt_id;
    uint64_t param;
};

// The answer: a fixed part of 512 bytes, then the texts, each text field an offset from the
// end of the fixed part.
struct koravex_mount_status {
    uint32_t size, mnt_opts;
    uint64_t mask;
    uint32_t sb_dev_major, sb_dev_minor;
    uint64_t sb_magic;
    uint32_t sb_flags, fs_type;
    uint64_t mnt_id, mnt_parent_id;
    uint32_t mnt_id_old, mnt_parent_id_old;
    uint64_t mnt_attr, mnt_propagation, mnt_peer_group, mnt_master, propagate_from;
    uint32_t mnt_root, mnt_point;
    uint64_t mnt_ns_id;
    uint32_t fs_subtype, sb_source;
    uint32_t opt_num, opt_array, opt_sec_num, opt_sec_array;
    uint64_t supported_mask;
    uint32_t mnt_uidmap_num, mnt_uidmap, mnt_gidmap_num, mnt_gidmap;
    uint64_t spare2[43];
};
#ifdef __cplusplus
static_assert(sizeof(koravex_mount_status) == 512, "statmount's fixed part is 512 bytes");
#else
_Static_assert(sizeof(struct koravex_mount_status) == 512, "statmount's fixed part is 512 bytes");
#endif
