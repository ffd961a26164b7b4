#pragma once

#include "common/runtime/error.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/AiRadioGroup.h"
#include "installer/components/AiSubGroup.h"
#include "tests/support/ErrorFacts.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A build of a one-release product. The release does not list the build, so no ownership cycle
// outlives the test.
inline boost::shared_ptr<Build> makeBuild(const std::string& productId) {
    auto product = boost::make_shared<Product>();
    product->_id = productId;
    product->_name = productId;
    auto release =
        boost::make_shared<Release>(product, productId + "-1.0", productId + " 1.0", "", "1.0", "1.0");
    return boost::make_shared<Build>(release, "Linux", "Debian", "12", "x86_64", "", "", "build.inf3",
                                     "false");
}

inline comp_ptr_t makeComponent(const boost::shared_ptr<Build>& build, const std::string& name,
                                int status = AiComponent::INSTALL, request_mode_t request = REQ_LEAVE) {
    auto component = std::make_shared<AiComponent>(build, name, name + " description", "",
                                                   std::vector<Component::keypackages_t>());
    component->installMode = status;
    component->requestMode = request;
    return component;
}

inline std::shared_ptr<AiRadioGroup> makeRadio(const boost::shared_ptr<Build>& build, const std::string& name,
                                               const std::vector<comp_ptr_t>& children,
                                               const std::string& defaultName = "") {
    auto group = std::make_shared<AiRadioGroup>(name, name + " group", build, defaultName);
    for (const comp_ptr_t& child : children)
        group->addChild(child);
    return group;
}

inline std::shared_ptr<AiSubGroup> makeSub(const boost::shared_ptr<Build>& build, const std::string& name,
                                           const nodes_t& children) {
    auto group = std::make_shared<AiSubGroup>(name, name + " group", build);
    group->children = children;
    return group;
}

// The name of a node of the tree: a component's or a group's.
inline std::string nameOf(const std::shared_ptr<AiCompNode>& node) {
    if (const auto component = std::dynamic_pointer_cast<AiComponent>(node))
        return component->name;
    if (const auto group = std::dynamic_pointer_cast<AiGroup>(node))
        return group->name;
    return "?";
}

inline std::vector<std::string> namesOf(const nodes_t& nodes) {
    std::vector<std::string> names;
    for (const auto& node : nodes)
        names.push_back(nameOf(node));
    return names;
}

} // namespace testsupport
