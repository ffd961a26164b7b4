#pragma once

#include <cstdint>
#include <string>

struct addrinfo;

// Host names and the IPv4 interfaces of this machine.
namespace util {

// One IPv4 interface address as the kernel lists it.
struct ifaceinfo {
    char name[32]; // may carry an alias suffix after ':'
    uint32_t ip;   // network byte order
    char ip_text[40];
    char netmask_text[40]; // "255.255.255.255" when it cannot be read
    char mac_text[32];     // "xx:xx:xx:xx:xx:xx"; empty for an alias
};

// The compact form the primary address is chosen from.
struct ifaceaddr {
    char name[16];
    uint32_t ip;      // network byte order
    uint32_t netmask; // network byte order
    char mac[32];
};

const int max_interfaces = 16384;

// Every non-loopback IPv4 interface address, followed by a record with an empty name. The array comes
// from calloc(3); the caller frees it. `count`, when given, receives the number of real records.
ifaceinfo* get_interfaces(int* count);
// Copies at most max_interfaces records into `out`; returns how many.
int list_interfaces(ifaceaddr* out);
// By name, then address, then netmask; <0, 0 or >0.
int compare_iface(const ifaceaddr& a, const ifaceaddr& b);
// The first address of the interface whose name sorts first, in a buffer shared by all calls;
// null when there is none.
const char* get_primary_ip();

// The numeric text of an IPv4 or IPv6 entry.
std::string addrinfo_to_ip(const addrinfo* info);

// Proves that the host name resolves to an address of this machine by binding TCP port 33333 on it
// for a moment. Raises with an unset classification, for the caller to add its own.
void check_hostname();
// The canonical host name when it has a '.', else "". Name-service failures are logged, not raised.
std::string get_fqdn();
// get_fqdn(), or the primary address when the name is empty or a localhost name.
std::string get_host_name_or_ip();

} // namespace util
