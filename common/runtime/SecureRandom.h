#pragma once

#include <string>

// Secrets drawn from the kernel's random source.
namespace secure_random {

// `count` lower-case letters 'a' to 'z', each equally likely. Raises a system `error` when the
// kernel's source cannot be read.
std::string letters(size_t count);

} // namespace secure_random
