#include "common/runtime/hosts.h"
#include "common/runtime/error.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct Free {
    void operator()(void* block) const { free(block); }
};

// The address as the single entry of a resolver answer.
template <typename Address> addrinfo entryOf(int family, Address& address) {
    addrinfo entry{};
    entry.ai_family = family;
    entry.ai_addr = reinterpret_cast<sockaddr*>(&address);
    return entry;
}

TEST(hostsTest, InterfaceListOfThisMachine) {
    int count = -1;
    std::unique_ptr<util::ifaceinfo, Free> list(util::get_interfaces(&count));
    ASSERT_TRUE(list);
    ASSERT_GE(count, 0);

    const boost::regex mac("([0-9a-f]{2}:){5}[0-9a-f]{2}");
    for (int i = 0; i < count; ++i) {
        const util::ifaceinfo& info = list.get()[i];
        SCOPED_TRACE(info.name);
        EXPECT_NE(info.name[0], '\0');
        EXPECT_NE(ntohl(info.ip) >> 24, 127u);
        char text[INET_ADDRSTRLEN];
        ASSERT_TRUE(inet_ntop(AF_INET, &info.ip, text, sizeof text));
        EXPECT_STREQ(info.ip_text, text);
        in_addr netmask;
        EXPECT_EQ(inet_pton(AF_INET, info.netmask_text, &netmask), 1) << info.netmask_text;
        if (strchr(info.name, ':'))
            EXPECT_STREQ(info.mac_text, "");
        else
            EXPECT_TRUE(boost::regex_match(info.mac_text, mac)) << info.mac_text;
    }
    EXPECT_STREQ(list.get()[count].name, "");

    std::unique_ptr<util::ifaceinfo, Free> again(util::get_interfaces(nullptr));
    EXPECT_TRUE(again);
}

util::ifaceaddr compact(const char* name, const char* ip, const char* netmask) {
    util::ifaceaddr entry;
    memset(&entry, 0, sizeof entry);
    strncpy(entry.name, name, sizeof entry.name - 1);
    inet_pton(AF_INET, ip, &entry.ip);
    inet_pton(AF_INET, netmask, &entry.netmask);
    return entry;
}

TEST(hostsTest, InterfaceOrdering) {
    struct Case {
        util::ifaceaddr a, b;
        int sign;
    } cases[] = {
        {compact("eth0", "10.0.0.9", "255.0.0.0"), compact("eth1", "10.0.0.1", "255.0.0.0"), -1},
        {compact("eth0", "10.0.0.1", "255.0.0.0"), compact("eth0", "10.0.0.2", "255.0.0.0"), -1},
        {compact("eth0", "10.0.0.2", "255.0.0.0"), compact("eth0", "10.0.0.10", "255.0.0.0"), -1},
        {compact("eth0", "10.0.0.1", "255.255.0.0"), compact("eth0", "10.0.0.1", "255.255.255.0"), -1},
        // Addresses further apart than 2^31 still compare by their value.
        {compact("eth0", "1.0.0.1", "255.0.0.0"), compact("eth0", "203.0.113.1", "255.0.0.0"), -1},
        {compact("eth0", "10.0.0.1", "255.0.0.0"), compact("eth0", "10.0.0.1", "255.0.0.0"), 0},
    };
    for (const Case& c : cases) {
        const int forward = util::compare_iface(c.a, c.b);
        const int backward = util::compare_iface(c.b, c.a);
        EXPECT_EQ((forward > 0) - (forward < 0), c.sign) << c.a.name << " " << c.b.name;
        EXPECT_EQ((backward > 0) - (backward < 0), -c.sign) << c.a.name << " " << c.b.name;
    }
}

TEST(hostsTest, NumericTextOfAddressEntries) {
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.17", &ipv4.sin_addr);
    addrinfo v4 = entryOf(AF_INET, ipv4);
    EXPECT_EQ(util::addrinfo_to_ip(&v4), "192.0.2.17");

    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    inet_pton(AF_INET6, "2001:db8::1", &ipv6.sin6_addr);
    addrinfo v6 = entryOf(AF_INET6, ipv6);
    EXPECT_EQ(util::addrinfo_to_ip(&v6), "2001:db8::1");

    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    addrinfo unix_entry = entryOf(AF_UNIX, local);
    try {
        util::addrinfo_to_ip(&unix_entry);
        FAIL() << "a UNIX address was accepted";
    } catch (const error& e) {
        EXPECT_EQ(e.getText(), "Unknown protocol family 1\n");
        EXPECT_EQ(e.getClass(), 0);
    }
}

} // namespace
