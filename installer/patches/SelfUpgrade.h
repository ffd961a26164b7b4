#pragma once

#include <string>

class SourceUrl;
class TiXmlElement;

// Switching to another installer version: the one a catalogue file demands, fetched from the
// installation source into a private cache, or a newer one already waiting in that cache.
namespace SelfUpgrade {

// Thrown by the catalogue readers when another installer version must read the catalogue.
class NeedSelfUpgrade {};

// Reads `exact_required_dizadizezeroz` of a catalogue file's root.
void check_required_AI_version(const TiXmlElement& description);
// Replaces the process by a newer verified installer from the cache; returns when there is none.
void switch_to_cached_binary();
// Fetches the demanded installer into the cache and checks it.
void download_new_version(const SourceUrl& source);
// Executes the cached installer with `argv` (argv[0] is replaced). Returns only by ending the process.
[[noreturn]] void do_restart(char** argv);

std::string cache_dir();
std::string default_binary_name();
std::string cached_binary_name();
std::string get_binary_version(const std::string& path);
std::string read_md5sum(const std::string& path);

} // namespace SelfUpgrade
