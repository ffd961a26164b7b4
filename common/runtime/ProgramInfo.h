#pragma once

// Build constants shown by the version output and in internal-error texts. They live in one object
// file of their own, so that a second installer with another version only recompiles that file.
namespace program_info {
extern const char* const version;
extern const char* const revision;
} // namespace program_info
