#include "shell/posix/instance_dir.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace koravex {

InstanceDirPlaces instanceDirPlacesFromEnvironment() {
    const auto environment = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    return {environment("XDG_RUNTIME_DIR"), "/tmp", environment("HOME"), host};
}

std::string makePrivateDir(const std::string& path, uid_t uid) {
    struct stat info {};
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::string("cannot be created (") + std::strerror(errno) + ")";
    }
    if (lstat(path.c_str(), &info) != 0) {
        return std::string("cannot be examined (") + std::strerror(errno) + ")";
    }
    if (S_ISLNK(info.st_mode)) {
        return "is a symbolic link";
    }
    if (!S_ISDIR(info.st_mode)) {
        return "is not a directory";
    }
    if (info.st_uid != uid) {
        return "belongs to user " + std::to_string(info.st_uid);
    }
    char mode[48];
    std::snprintf(mode, sizeof mode, "is open to other users (mode %04o)",
                  static_cast<unsigned>(info.st_mode & 07777));
    return (info.st_mode & 077) != 0 ? mode : "";
}

InstanceDirChoice chooseInstanceDir(const InstanceDirPlaces& places, uid_t uid) {
    std::vector<std::string> candidates;
    if (places.runtimeDir.starts_with('/')) {
        candidates.push_back(places.runtimeDir + "/koravex");
    }
    candidates.push_back(places.tmpDir + "/koravex-" + std::to_string(uid));
    if (places.homeDir.starts_with('/')) {
        // The cache directory is the user's own; only the last level must be private.
        const std::string cache = places.homeDir + "/.cache";
        mkdir(cache.c_str(), 0700);
        candidates.push_back(cache + "/koravex-" +
                             (places.hostName.empty() ? "localhost" : places.hostName));
    }
    InstanceDirChoice choice;
    for (const std::string& candidate : candidates) {
        const std::string problem = makePrivateDir(candidate, uid);
        if (problem.empty()) {
            choice.path = candidate;
            break;
        }
        choice.notes.push_back(candidate + " " + problem + "; not using it");
    }
    return choice;
}

}  // namespace koravex
