// The interface reader in a network namespace of its own with a thousand interfaces, and how
// it follows the kernel's link events there. Needs root; skipped with a message otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "core/linux/interface_reader.h"

namespace koravex {
namespace {

constexpr int kInterfaces = 1000;

int run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

class Namespace {
  public:
    Namespace() : name_("koravex-net-" + std::to_string(::getpid())) {
        created_ = run("ip netns add " + name_) == 0;
    }
    ~Namespace() {
        if (created_)
            run("ip netns delete " + name_);
    }
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;

    bool created() const { return created_; }
    const std::string& name() const { return name_; }
    int ip(const std::string& args) const { return run("ip -n " + name_ + " " + args); }
    // Runs `lines` through `ip -batch` inside the namespace.
    int batch(const std::vector<std::string>& lines) const {
        const std::string path = "/tmp/" + name_ + ".batch";
        {
            std::ofstream file(path);
            for (const auto& line : lines)
                file << line << '\n';
        }
        const int status = ip("-batch " + path);
        std::remove(path.c_str());
        return status;
    }
    // Calls fn on a thread that has entered the namespace; the reader made there keeps its
    // sockets in it.
    void enter(const std::function<void()>& fn) const {
        std::thread worker([&] {
            const int fd = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0) << "cannot open the namespace";
            const int entered = ::setns(fd, CLONE_NEWNET);
            ::close(fd);
            ASSERT_EQ(entered, 0) << "setns failed";
            fn();
        });
        worker.join();
    }

  private:
    std::string name_;
    bool created_ = false;
};

std::set<std::string> names(const std::vector<InterfaceRow>& rows) {
    std::set<std::string> out;
    for (const auto& row : rows)
        out.insert(row.description);
    return out;
}

const InterfaceRow* find(const std::vector<InterfaceRow>& rows, const std::string& name) {
    for (const auto& row : rows) {
        if (row.description == name)
            return &row;
    }
    return nullptr;
}

TEST(InterfaceReaderNetns, ThousandInterfacesAndTheirChanges) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a network namespace";
    Namespace ns;
    if (!ns.created())
        GTEST_SKIP() << "`ip netns add` failed: no network namespaces here";
    if (ns.ip("link add probe0 type ifb") != 0) {
        GTEST_SKIP() << "the kernel cannot make ifb interfaces here";
    }
    ASSERT_EQ(ns.ip("link del probe0"), 0);
    std::vector<std::string> lines;
    for (int i = 0; i < kInterfaces; ++i)
        lines.push_back("link add ifb" + std::to_string(i) + " type ifb");
    ASSERT_EQ(ns.batch(lines), 0);

    ns.enter([&] {
        InterfaceReader reader;
        const auto rows = reader.read();
        ASSERT_TRUE(rows.has_value());
        ASSERT_EQ(rows->size(), static_cast<std::size_t>(kInterfaces + 1));
        EXPECT_EQ((*rows)[0].description, "lo");
        EXPECT_EQ((*rows)[0].operStatus, 0u);  // down in a fresh namespace
        for (std::size_t i = 1; i < rows->size(); ++i) {
            EXPECT_LT((*rows)[i - 1].index, (*rows)[i].index);
        }
        const auto listed = names(*rows);
        for (int i = 0; i < kInterfaces; ++i) {
            EXPECT_TRUE(listed.count("ifb" + std::to_string(i))) << "ifb" << i;
        }
        const InterfaceRow* ifb5 = find(*rows, "ifb5");
        ASSERT_NE(ifb5, nullptr);
        EXPECT_EQ(ifb5->type, 6u);
        EXPECT_EQ(ifb5->operStatus, 0u);
        EXPECT_EQ(ifb5->speed, 0u);

        // A few changes, told by link events.
        ASSERT_EQ(ns.ip("link set ifb5 up"), 0);
        ASSERT_EQ(ns.ip("link set lo up"), 0);
        ASSERT_EQ(ns.ip("link del ifb7"), 0);
        ASSERT_EQ(ns.ip("link add extra0 type ifb"), 0);
        ASSERT_EQ(ns.ip("link set ifb9 name renamed9"), 0);
        const auto changed = reader.read();
        ASSERT_TRUE(changed.has_value());
        EXPECT_EQ(changed->size(), static_cast<std::size_t>(kInterfaces + 1));
        const auto now = names(*changed);
        EXPECT_FALSE(now.count("ifb7"));
        EXPECT_FALSE(now.count("ifb9"));
        EXPECT_TRUE(now.count("renamed9"));
        EXPECT_TRUE(now.count("extra0"));
        ASSERT_NE(find(*changed, "ifb5"), nullptr);
        EXPECT_EQ(find(*changed, "ifb5")->operStatus, 5u);  // up, state unknown, running
        EXPECT_EQ((*changed)[0].operStatus, 5u);

        // All of them at once: more events than the socket may hold. (Deleting is slow, a
        // grace period each, so only a few go.)
        std::vector<std::string> bulk;
        for (int i = 0; i < kInterfaces; ++i) {
            if (i != 7 && i != 9)
                bulk.push_back("link set ifb" + std::to_string(i) + " up");
        }
        for (int i = kInterfaces - 20; i < kInterfaces; ++i) {
            bulk.push_back("link del ifb" + std::to_string(i));
        }
        ASSERT_EQ(ns.batch(bulk), 0);
        const auto bulked = reader.read();
        ASSERT_TRUE(bulked.has_value());
        EXPECT_EQ(bulked->size(), static_cast<std::size_t>(kInterfaces + 1 - 20));
        EXPECT_FALSE(names(*bulked).count("ifb999"));
        for (const auto& row : *bulked) {
            if (row.description.rfind("ifb", 0) == 0) {
                EXPECT_EQ(row.operStatus, 5u) << row.description;
            }
        }
    });
}

}  // namespace
}  // namespace koravex
