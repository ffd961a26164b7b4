#include "common/runtime/ProgramInfo.h"

namespace program_info {
const char* const version = MOXEL_INSTALLER_VERSION;
const char* const revision = "718260c2a548";
} // namespace program_info
