#include "shell/posix/instance_dir.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace koravex {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool isAbsolute(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

}  // namespace

InstanceDirPlaces instanceDirPlacesFromEnvironment() {
    InstanceDirPlaces places;
    places.runtimeDir = environment("XDG_RUNTIME_DIR");
    places.homeDir = environment("HOME");
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        places.hostName = host;
    }
    return places;
}

std::string makePrivateDir(const std::string& path, uid_t uid) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::string("cannot be created (") + std::strerror(errno) + ")";
    }
    struct stat info {};
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
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return std::string("is open to other users (mode ") + mode + ")";
    }
    return {};
}

InstanceDirChoice chooseInstanceDir(const InstanceDirPlaces& places, uid_t uid) {
    std::vector<std::string> candidates;
    if (isAbsolute(places.runtimeDir)) {
        candidates.push_back(places.runtimeDir + "/koravex");
    }
    candidates.push_back(places.tmpDir + "/koravex-" + std::to_string(uid));
    if (isAbsolute(places.homeDir)) {
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
