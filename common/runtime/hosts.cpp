#include "common/runtime/hosts.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace util {

namespace {

class Socket {
public:
    Socket(int domain, int type, int protocol) : fd(socket(domain, type | SOCK_CLOEXEC, protocol)) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        if (fd >= 0)
            ::close(fd);
    }
    // Closes now and reports the outcome; the destructor then has nothing left to do.
    int close() {
        const int result = ::close(fd);
        fd = -1;
        return result;
    }

    int fd;
};

struct FreeAddrinfo {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using addrinfo_list = std::unique_ptr<addrinfo, FreeAddrinfo>;

struct Free {
    void operator()(void* block) const { free(block); }
};

// Copies a name that need not be terminated into a buffer that will be.
template <size_t N> void copyName(char (&to)[N], const char* from, size_t max_length) {
    const size_t length = strnlen(from, std::min(max_length, N - 1));
    memcpy(to, from, length);
    to[length] = '\0';
}

bool isLoopback(uint32_t ip) {
    return (ntohl(ip) >> 24) == 127;
}

void formatMac(char (&text)[32], const sockaddr& hardware) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(hardware.sa_data);
    snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2], bytes[3],
             bytes[4], bytes[5]);
}

void addressText(char (&text)[40], const sockaddr& address) {
    const sockaddr_in* ipv4 = reinterpret_cast<const sockaddr_in*>(&address);
    if (!inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text))
        text[0] = '\0';
}

int compareNumbers(uint32_t a, uint32_t b) {
    const uint32_t host_a = ntohl(a);
    const uint32_t host_b = ntohl(b);
    return host_a < host_b ? -1 : host_a > host_b ? 1 : 0;
}

} // namespace

ifaceinfo* get_interfaces(int* count) {
    if (count)
        *count = 0;
    Socket probe(AF_INET, SOCK_STREAM, 0);
    if (probe.fd < 0)
        throw error(4, 1, 1, 3) << "Can't create socket:" << strerror(errno);

    // The kernel fills at most the room offered; a full buffer may mean that more did not fit.
    std::vector<ifreq> requests(2);
    ifconf config;
    for (;;) {
        const int offered = static_cast<int>(requests.size() * sizeof(ifreq));
        config.ifc_len = offered;
        config.ifc_req = requests.data();
        if (ioctl(probe.fd, SIOCGIFCONF, &config) < 0)
            throw error(4, 1, 1, 3) << "unable to query SIOCGIFCONF: " << strerror(errno);
        if (config.ifc_len < offered)
            break;
        requests.resize(requests.size() * 2);
    }
    const size_t returned = static_cast<size_t>(config.ifc_len) / sizeof(ifreq);

    std::unique_ptr<ifaceinfo, Free> list(static_cast<ifaceinfo*>(calloc(returned + 1, sizeof(ifaceinfo))));
    if (!list)
        throw error(4, 1, 1, 3) << "Can't allocate ifaceinfo buffer from " << static_cast<int>(returned + 1)
                                << " elements";

    int filled = 0;
    for (size_t i = 0; i < returned; ++i) {
        const ifreq& request = requests[i];
        const uint32_t ip = reinterpret_cast<const sockaddr_in*>(&request.ifr_addr)->sin_addr.s_addr;
        if (isLoopback(ip))
            continue;
        ifaceinfo& info = list.get()[filled];
        copyName(info.name, request.ifr_name, IFNAMSIZ);
        info.ip = ip;
        addressText(info.ip_text, request.ifr_addr);

        ifreq query;
        memset(&query, 0, sizeof query);
        copyName(query.ifr_name, request.ifr_name, IFNAMSIZ);
        if (strchr(info.name, ':')) {
            info.mac_text[0] = '\0';
        } else {
            strcpy(info.mac_text, "00:00:00:00:00:00");
            if (ioctl(probe.fd, SIOCGIFHWADDR, &query) < 0)
                throw error(4, 1, 1, 3) << "Can't get Mac-addr with SIOCGIFHWADDR";
            formatMac(info.mac_text, query.ifr_hwaddr);
        }
        if (ioctl(probe.fd, SIOCGIFNETMASK, &query) == 0)
            addressText(info.netmask_text, query.ifr_netmask);
        else
            strcpy(info.netmask_text, "255.255.255.255");
        ++filled;
    }
    if (count)
        *count = filled;
    return list.release();
}

int list_interfaces(ifaceaddr* out) {
    int count = 0;
    std::unique_ptr<ifaceinfo, Free> list(get_interfaces(&count));
    count = std::min(count, max_interfaces);
    for (int i = 0; i < count; ++i) {
        const ifaceinfo& info = list.get()[i];
        ifaceaddr& compact = out[i];
        memset(&compact, 0, sizeof compact);
        copyName(compact.name, info.name, sizeof info.name);
        compact.ip = info.ip;
        in_addr netmask;
        compact.netmask = inet_pton(AF_INET, info.netmask_text, &netmask) == 1 ? netmask.s_addr : 0xFFFFFFFFu;
        copyName(compact.mac, info.mac_text, sizeof info.mac_text);
    }
    return count;
}

int compare_iface(const ifaceaddr& a, const ifaceaddr& b) {
    const int by_name = strcmp(a.name, b.name);
    if (by_name != 0)
        return by_name;
    const int by_ip = compareNumbers(a.ip, b.ip);
    if (by_ip != 0)
        return by_ip;
    return compareNumbers(a.netmask, b.netmask);
}

const char* get_primary_ip() {
    static char primary[4098];
    std::vector<ifaceaddr> list(max_interfaces);
    const int count = list_interfaces(list.data());
    if (count == 0)
        return nullptr;
    list.resize(static_cast<size_t>(count));
    std::sort(list.begin(), list.end(),
              [](const ifaceaddr& a, const ifaceaddr& b) { return compare_iface(a, b) < 0; });
    list.erase(std::unique(list.begin(), list.end(),
                           [](const ifaceaddr& a, const ifaceaddr& b) { return compare_iface(a, b) == 0; }),
               list.end());
    for (const ifaceaddr& entry : list) {
        if (isLoopback(entry.ip))
            continue;
        in_addr address;
        address.s_addr = entry.ip;
        if (!inet_ntop(AF_INET, &address, primary, sizeof primary))
            return nullptr;
        return primary;
    }
    return nullptr;
}

std::string addrinfo_to_ip(const addrinfo* info) {
    if (!info || !info->ai_addr)
        return "";
    if (info->ai_family == AF_INET) {
        char text[INET_ADDRSTRLEN];
        const auto* address = reinterpret_cast<const sockaddr_in*>(info->ai_addr);
        return inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) ? text : "";
    }
    if (info->ai_family == AF_INET6) {
        char text[INET6_ADDRSTRLEN];
        const auto* address = reinterpret_cast<const sockaddr_in6*>(info->ai_addr);
        return inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text) ? text : "";
    }
    throw error() << "Unknown protocol family " << info->ai_family;
}

void check_hostname() {
    char host[4096] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        throw error() << "Can't get hostname";

    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int code = getaddrinfo(host, "33333", &hints, &found);
    if (code != 0)
        throw error() << "Can't detect host " << host << " IPv4/IPv6 addresses: " << gai_strerror(code);
    const addrinfo_list addresses(found);

    errno = 0;
    const std::string ip = addrinfo_to_ip(found);
    if (ip.empty())
        throw error() << "Can not extract IP address. Error: " << strerror(errno);
    Log::stream(3, true) << "Checking hostname: '" << host << "' is resolved to " << ip;

    Socket probe(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (probe.fd < 0)
        throw error() << "Can't create socket: " << strerror(errno);
    // Only an address of this machine can be bound.
    if (bind(probe.fd, found->ai_addr, found->ai_addrlen) != 0)
        throw error() << "Can't bind to socket: " << strerror(errno) << "\n(hostname='" << host << "', "
                      << "ip=" << ip << ")";
    if (probe.close() != 0)
        throw error() << "Can't close socket: " << strerror(errno);
    Log::stream(1, true) << "Checking hostname is sucessfull.";
}

std::string get_fqdn() {
    // Room for the longest name Linux allows and its terminating zero.
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host) != 0) {
        Log::stream(2, true) << "Unable to get hostname: " << strerror(errno);
        return "";
    }

    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    const int code = getaddrinfo(host, nullptr, &hints, &found);
    if (code != 0) {
        Log::stream(2, true) << "Unable to resolve fqdn: " << gai_strerror(code);
        return "";
    }
    const addrinfo_list addresses(found);
    if (!found) {
        Log::stream(2, true) << "Unable to resolve fqdn";
        return "";
    }
    if (!found->ai_canonname || !strchr(found->ai_canonname, '.')) {
        Log::stream(2, true) << "Canonname is not correct fqdn";
        return "";
    }
    return found->ai_canonname;
}

std::string get_host_name_or_ip() {
    const std::string name = get_fqdn();
    if (name.empty() || name == "localhost" || name == "localhost.localdomain") {
        // Without an address the name found, however poor, is all there is to show.
        if (const char* ip = get_primary_ip())
            return ip;
    }
    return name;
}

} // namespace util
