// koravex-test-instance-peer: plays the other end of the single-instance socket in tests.
//   greet SOCKET [LINE...]       connects as a second start would, prints the greeting, sends
//                                each LINE. Exit 0 greeted, 3 dropped unanswered, 4 no connection.
//   flood SOCKET N SECONDS       opens up to N connections, never reads, holds them SECONDS.
//   fake SOCKET LOCK EXE         poses as an instance: holds the flock on LOCK, greets every
//                                connection as a hidden TForm1 of EXE, prints what it is sent.
//   squat-abstract NAME...       binds each abstract socket name with a full queue; holds them.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

socklen_t address(const std::string& name, bool abstract, sockaddr_un& out) {
    out = {};
    out.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    std::memcpy(out.sun_path + offset, name.data(),
                std::min(name.size(), sizeof out.sun_path - 1 - offset));
    return static_cast<socklen_t>(abstract ? offsetof(sockaddr_un, sun_path) + 1 + name.size()
                                           : sizeof out);
}

int connectTo(const std::string& path) {
    sockaddr_un a;
    const socklen_t length = address(path, false, a);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), length) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

int listenAt(const std::string& name, bool abstract, int backlog) {
    sockaddr_un a;
    const socklen_t length = address(name, abstract, a);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!abstract) {
        unlink(name.c_str());
    }
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), length) != 0 ||
        listen(fd, backlog) != 0) {
        std::perror(name.c_str());
        std::exit(2);
    }
    return fd;
}

int greet(const std::string& path, int argc, char** argv) {
    const int fd = connectTo(path);
    if (fd < 0) {
        return 4;
    }
    for (int i = 0; i < argc; ++i) {
        const std::string line = std::string(argv[i]) + "\n";
        (void)!send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    }
    std::string got;
    char c;
    pollfd entry{fd, POLLIN, 0};
    while (poll(&entry, 1, 1000) == 1 && recv(fd, &c, 1, 0) == 1) {
        got += c;
        if (c == '\n') {
            break;
        }
    }
    close(fd);
    if (got.empty() || got.back() != '\n') {
        return 3;
    }
    std::fputs(got.c_str(), stdout);
    return 0;
}

int flood(const std::string& path, int count, int seconds) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        const int fd = connectTo(path);
        if (fd >= 0) {
            fds.push_back(fd);
        }
    }
    std::printf("%zu connections\n", fds.size());
    std::fflush(stdout);
    sleep(static_cast<unsigned>(seconds));
    return fds.empty() ? 4 : 0;
}

int fake(const std::string& path, const std::string& lock, const std::string& exe) {
    const int lockFd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd < 0 || flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        std::perror(lock.c_str());
        return 2;
    }
    const int server = listenAt(path, false, 16);
    chmod(path.c_str(), 0777);
    std::printf("listening\n");
    std::fflush(stdout);
    for (;;) {
        const int peer = accept(server, nullptr, nullptr);
        if (peer < 0) {
            continue;
        }
        const std::string greeting = "instance TForm1 0 " + exe + "\n";
        (void)!send(peer, greeting.data(), greeting.size(), MSG_NOSIGNAL);
        char buffer[256];
        pollfd entry{peer, POLLIN, 0};
        while (poll(&entry, 1, 500) == 1) {
            const ssize_t n = recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            std::printf("got: %.*s", static_cast<int>(n), buffer);
            std::fflush(stdout);
        }
        close(peer);
    }
}

int squatAbstract(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        const int server = listenAt(argv[i], true, 0);
        // Fill the queue with a connection of our own, so that others find it full.
        sockaddr_un a;
        const socklen_t length = address(argv[i], true, a);
        const int self = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        (void)!connect(self, reinterpret_cast<sockaddr*>(&a), length);
        (void)server;
    }
    std::printf("squatting\n");
    std::fflush(stdout);
    pause();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "greet" && argc >= 3) {
        return greet(argv[2], argc - 3, argv + 3);
    }
    if (command == "flood" && argc == 5) {
        return flood(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    }
    if (command == "fake" && argc == 5) {
        return fake(argv[2], argv[3], argv[4]);
    }
    if (command == "squat-abstract" && argc >= 3) {
        return squatAbstract(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "usage: %s greet|flood|fake|squat-abstract ...\n", argv[0]);
    return 2;
}
