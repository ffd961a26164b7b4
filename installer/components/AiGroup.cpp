#include "installer/components/AiGroup.h"

#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"

AiGroup::AiGroup(const std::string& groupName, const std::string& groupDescription,
                 boost::shared_ptr<Build> owner)
    : name(groupName), description(groupDescription), build(std::move(owner)) {}

AiGroup::~AiGroup() = default;

std::string AiGroup::getDescription() const {
    return description;
}

std::string AiGroup::getProductId() const {
    const boost::shared_ptr<Release> release = getRelease();
    return release && release->prod() ? release->prod()->_id : std::string();
}

boost::shared_ptr<Release> AiGroup::getRelease() const {
    return build ? build->_parent : boost::shared_ptr<Release>();
}
