#pragma once

#include "installer/components/AiCompNode.h"

#include <boost/shared_ptr.hpp>

#include <string>

class Build;
class Release;

// An inner node of the component tree, defined by the component_groups section of a build.
class AiGroup : public AiCompNode {
public:
    AiGroup(const std::string& name, const std::string& description, boost::shared_ptr<Build> build);
    ~AiGroup() override;

    std::string getDescription() const override;
    // "" when the build has no release.
    std::string getProductId() const override;
    virtual bool isEmpty() const = 0;

    boost::shared_ptr<Build> getBuild() const { return build; }
    boost::shared_ptr<Release> getRelease() const;

    // The id that requests and requirement lists use.
    std::string name;
    std::string description;
    boost::shared_ptr<Build> build;
};
