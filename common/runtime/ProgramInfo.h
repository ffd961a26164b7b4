#pragma once

// Build constants shown by the version output and in internal-error texts.
namespace program_info {
inline constexpr const char* version = "3.24.0";
inline constexpr const char* revision = "718260c2a548";
} // namespace program_info
