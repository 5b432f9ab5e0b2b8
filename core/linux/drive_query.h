#pragma once
// One question about a drive, as the helper process answers it: the drive's space and its
// volume details, read with one statvfs. Also the records that carry questions and answers
// between the program and its helper.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/drive_asker.h"
#include "core/linux/drive_table.h"
#include "core/linux/sys_calls.h"

namespace koravex {

// Where the backend finds the kernel's and udev's trees; tests point these at fixtures.
struct LinuxRoots {
    std::string proc = "/proc";
    std::string sys = "/sys";
    std::string devDisk = "/dev/disk";
    std::string runUdev = "/run/udev";
};

// Label and UUID of a mounted volume.
struct VolumeIds {
    unsigned mountId = 0;
    std::string label;
    std::string uuid;
};

// From udev's database, the /dev/disk links or the device itself (in that order). Reads
// devices: only ever called where a stuck call can hold nobody.
VolumeIds readVolumeIds(SysCalls& calls, const LinuxRoots& roots, const DriveCandidate& c);

// Space and volume from one statvfs of the drive's mount point and its volume ids.
DriveAnswer answerFrom(const struct statvfs& st, const VolumeIds& ids, const DriveCandidate& c);

// Answers questions, keeping each mounted volume's ids for as long as it stays mounted.
// Safe to call from several threads at once.
class DriveQueryAnswerer {
  public:
    DriveQueryAnswerer(SysCalls& calls, LinuxRoots roots)
        : calls_(calls), roots_(std::move(roots)) {}
    DriveAnswer answer(const DriveCandidate& c);

  private:
    SysCalls& calls_;
    LinuxRoots roots_;
    std::mutex mutex_;
    std::map<std::string, VolumeIds> ids_;  // by drive key
};

// The records on the helper's socket. Each is one datagram that starts with its own whole
// length (4 bytes) and its kind (1 byte); one whose length is not what arrived, or that is
// malformed in any other way, is nullopt. A question carries the drive's key, type, source
// and mount point: the kernel takes at most PATH_MAX bytes for a source or a type, so the
// largest question of a real mount is about 20 KiB; kHelperRecordMax leaves room above that.
enum class HelperRecord : std::uint8_t { Question = 'Q', Answer = 'A', Ping = 'P' };
constexpr std::size_t kHelperRecordHeader = 5;
constexpr std::size_t kHelperRecordMax = 64 * 1024;

// The length a record's first bytes say it has; nullopt when fewer than 4 bytes are given.
std::optional<std::uint32_t> recordLength(std::string_view head);

std::string encodeQuestion(std::uint64_t id, const DriveCandidate& c);
std::optional<std::pair<std::uint64_t, DriveCandidate>> decodeQuestion(std::string_view bytes);
std::string encodeReply(const DriveReply& reply);
std::optional<DriveReply> decodeReply(std::string_view bytes);
std::string encodePing(std::uint64_t id);
std::optional<std::uint64_t> decodePing(std::string_view bytes);

}  // namespace koravex
