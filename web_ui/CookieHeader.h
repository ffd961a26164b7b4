#pragma once

#include <map>
#include <string>

// The name/value pairs of a Cookie request header, a later pair replacing an earlier one of the same
// name. False when the header is malformed: a pair without '=' (an empty pair after a trailing ';'
// included), or a name or value longer than 5000 bytes.
bool parseCookieHeader(const std::string& header, std::map<std::string, std::string>& pairs);
