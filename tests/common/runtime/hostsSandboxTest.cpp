#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/hosts.h"
#include "tests/common/runtime/RuntimeTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>

using runtimetest::mountNamespace;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testsupport::readFile;

namespace {

struct Free {
    void operator()(void* block) const { free(block); }
};

// Each case gets a network of its own, so interfaces can be made up and nothing leaves the machine,
// and an /etc/hosts of its own under the sandbox's private host name.
class hostsSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(mountNamespace("self"), mountNamespace("1")) << "run this test inside tests/sandbox/run";
        ASSERT_EQ(unshare(CLONE_NEWNET), 0) << strerror(errno);
        shell("ip link set lo up");
        // A name that is not in the hosts file goes to a name server that is not there.
        bindOver("/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
        Log::open_file(dir.file("installer.log"), true);
    }

    void TearDown() override {
        for (const std::string& target : mounted)
            umount2(target.c_str(), MNT_DETACH);
    }

    void shell(const std::string& command) { ASSERT_EQ(system(command.c_str()), 0) << command; }

    void bindOver(const std::string& target, const std::string& content) {
        const std::string source = dir.file("bound" + std::to_string(mounted.size()));
        testsupport::writeFile(source, content);
        ASSERT_EQ(mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr), 0) << strerror(errno);
        mounted.insert(target);
    }

    void host(const std::string& name, const std::string& hosts_file) {
        ASSERT_EQ(sethostname(name.data(), name.size()), 0) << strerror(errno);
        bindOver("/etc/hosts", hosts_file);
    }

    // eth1 comes before eth0 in the kernel's list.
    void twoInterfaces() {
        shell("ip link add eth0 type veth peer name eth1");
        shell("ip addr add 10.1.0.1/24 dev eth1");
        shell("ip addr add 10.0.0.9/16 dev eth0");
    }

    std::string logText() const { return readFile(dir.file("installer.log")); }

    testsupport::TempDir dir;
    std::set<std::string> mounted;
};

TEST_F(hostsSandboxTest, InterfaceListSkipsLoopbackAndMarksAliases) {
    twoInterfaces();
    shell("ip addr add 10.0.0.7/16 dev eth0 label eth0:web");
    shell("ip addr add 127.0.0.2/8 dev lo");

    int count = 0;
    std::unique_ptr<util::ifaceinfo, Free> list(util::get_interfaces(&count));
    std::set<std::string> seen;
    for (int i = 0; i < count; ++i) {
        const util::ifaceinfo& info = list.get()[i];
        seen.insert(std::string(info.name) + " " + info.ip_text + " " + info.netmask_text);
        if (std::string(info.name) == "eth0:web")
            EXPECT_STREQ(info.mac_text, "");
        else
            EXPECT_STRNE(info.mac_text, "00:00:00:00:00:00") << info.name;
    }
    EXPECT_EQ(seen, (std::set<std::string>{"eth0 10.0.0.9 255.255.0.0", "eth0:web 10.0.0.7 255.255.0.0",
                                           "eth1 10.1.0.1 255.255.255.0"}));
    EXPECT_STREQ(list.get()[count].name, "");
}

TEST_F(hostsSandboxTest, PrimaryAddressBelongsToTheFirstInterfaceByName) {
    EXPECT_EQ(util::get_primary_ip(), nullptr);

    twoInterfaces();
    const char* primary = util::get_primary_ip();
    ASSERT_TRUE(primary);
    EXPECT_STREQ(primary, "10.0.0.9");

    std::vector<util::ifaceaddr> compact(util::max_interfaces);
    ASSERT_EQ(util::list_interfaces(compact.data()), 2);
    EXPECT_STREQ(compact[0].name, "eth1");
}

TEST_F(hostsSandboxTest, LowestAddressOfTheInterfaceIsPrimary) {
    shell("ip link add eth0 type veth peer name eth1");
    shell("ip addr add 10.0.0.2/24 dev eth0");
    shell("ip addr add 10.0.0.1/24 dev eth0");
    EXPECT_STREQ(util::get_primary_ip(), "10.0.0.1");
}

TEST_F(hostsSandboxTest, LocalHostNamePassesTheCheck) {
    host("alpha", "127.0.0.1 alpha.example.test alpha\n");
    Log::setFileThreshold(3);
    EXPECT_NO_THROW(util::check_hostname());
    EXPECT_THAT(logText(), HasSubstr("Checking hostname: 'alpha' is resolved to 127.0.0.1\n"));
    EXPECT_THAT(logText(), HasSubstr("Checking hostname is sucessfull.\n"));
    EXPECT_EQ(util::get_fqdn(), "alpha.example.test");
    EXPECT_EQ(util::get_host_name_or_ip(), "alpha.example.test");
}

TEST_F(hostsSandboxTest, HostNameOfAnotherMachineFailsTheCheck) {
    host("beta", "198.51.100.7 beta.example.test beta\n");
    try {
        util::check_hostname();
        FAIL() << "a foreign address passed";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), std::string("Can't bind to socket: ") + strerror(EADDRNOTAVAIL) +
                                   "\n(hostname='beta', ip=198.51.100.7)\n");
        EXPECT_EQ(e.getClass(), 0);
        EXPECT_EQ(e.getSupport(), 0);
    }
}

TEST_F(hostsSandboxTest, BusyCheckPortFailsTheCheck) {
    host("alpha", "127.0.0.1 alpha\n");
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(33333);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << strerror(errno);

    try {
        util::check_hostname();
        FAIL() << "the check passed on a busy port";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), StartsWith("Can't bind to socket: "));
    }
    close(holder);
}

TEST_F(hostsSandboxTest, UnknownHostNameFailsTheCheckAndHasNoFqdn) {
    host("delta", "127.0.0.1 localhost\n");
    try {
        util::check_hostname();
        FAIL() << "an unknown host name passed";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), StartsWith("Can't detect host delta IPv4/IPv6 addresses: "));
    }
    EXPECT_EQ(util::get_fqdn(), "");
    EXPECT_THAT(logText(), HasSubstr("Unable to resolve fqdn: "));
}

TEST_F(hostsSandboxTest, NamesWithoutDomainFallBackToThePrimaryAddress) {
    twoInterfaces();
    struct Case {
        const char* host_name;
        const char* hosts_file;
        const char* fqdn;
    } cases[] = {
        {"gamma", "127.0.0.1 gamma\n", ""},
        {"localhost", "127.0.0.1 localhost.localdomain localhost\n", "localhost.localdomain"},
    };
    for (const Case& c : cases) {
        host(c.host_name, c.hosts_file);
        EXPECT_EQ(util::get_fqdn(), c.fqdn) << c.host_name;
        EXPECT_EQ(util::get_host_name_or_ip(), "10.0.0.9") << c.host_name;
        umount2("/etc/hosts", MNT_DETACH);
    }
    EXPECT_THAT(logText(), HasSubstr("Canonname is not correct fqdn\n"));
}

} // namespace
