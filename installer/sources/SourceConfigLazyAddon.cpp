#include "installer/sources/SourceConfigLazyAddon.h"

#include "installer/catalogue/Build.h"

#include <utility>

SourceConfigLazyAddon::SourceConfigLazyAddon(Repository* repository, boost::weak_ptr<Build> addon)
    : SourceConfig(repository), addon(std::move(addon)) {}

SourceConfigLazyAddon::~SourceConfigLazyAddon() = default;
