#include "common/packages/DebPackage.h"

#include "common/packages/DebVersion.h"

DebPackage::DebPackage(const std::string& name, const std::string& versionText)
    : Package(name, std::make_unique<DebVersion>(versionText)) {}

DebPackage::~DebPackage() = default;
