#include "web_ui/WebAssets.h"

#include <cstdlib>
#include <cstring>

namespace web_assets {

const WebAsset& get(const char* name) {
    for (size_t i = 0; i < count; ++i)
        if (std::strcmp(all[i].name, name) == 0)
            return all[i];
    // The build embeds every template the code names.
    std::abort();
}

} // namespace web_assets
