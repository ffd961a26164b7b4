#pragma once

#include <cstddef>

// The program image of send-error-report, embedded at build time.
namespace sender_image {
extern const unsigned char data[];
extern const std::size_t size;
} // namespace sender_image
