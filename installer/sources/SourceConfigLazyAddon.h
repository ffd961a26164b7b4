#pragma once

#include "installer/sources/SourceConfig.h"

#include <boost/weak_ptr.hpp>

class Build;

// The packages named by the description of one lazily loaded add-on build; the add-on's own
// update-server sources are added only once one of its components is to be installed.
class SourceConfigLazyAddon : public SourceConfig {
public:
    SourceConfigLazyAddon(Repository* repository, boost::weak_ptr<Build> addon);
    ~SourceConfigLazyAddon() override;

    boost::weak_ptr<Build> getAddon() const { return addon; }

private:
    boost::weak_ptr<Build> addon;
};
