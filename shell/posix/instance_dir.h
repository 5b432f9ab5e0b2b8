#pragma once
// Where the single instance lives: a directory only its user can enter. The first choice is
// "koravex" in the user's runtime directory ($XDG_RUNTIME_DIR); without one, "koravex-UID" in
// /tmp, the way terminal multiplexers keep their sockets. A place is used only when it is a
// real directory (a symbolic link is never followed), owned by the user, with no access for
// group or others; anything else found there (planted by another user, say) is passed over
// with a note, for a directory in the user's home that no other user can reach.
#include <sys/types.h>
#include <string>
#include <vector>

namespace koravex {

struct InstanceDirPlaces {
    std::string runtimeDir;  // $XDG_RUNTIME_DIR; empty when unset
    std::string tmpDir = "/tmp";
    std::string homeDir;   // $HOME; empty when unset
    std::string hostName;  // a home may be shared by several machines
};

InstanceDirPlaces instanceDirPlacesFromEnvironment();

// Creates `path` with mode 0700 unless it exists; then says why it is no private directory of
// `uid` ("is a symbolic link", "belongs to user 1001", ...), or nothing when it is one.
std::string makePrivateDir(const std::string& path, uid_t uid);

struct InstanceDirChoice {
    std::string path;                // empty when no place could be used
    std::vector<std::string> notes;  // one line for each place passed over
};

InstanceDirChoice chooseInstanceDir(const InstanceDirPlaces& places, uid_t uid);

}  // namespace koravex
