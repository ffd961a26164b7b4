#pragma once

#include "common/packages/Package.h"

// A package of the external extension catalogue; its catalogue facts are package properties.
class ExtCatalogPackage : public Package {
public:
    ExtCatalogPackage(const std::string& name, const std::string& versionText) : Package(name, versionText) {}
    ~ExtCatalogPackage() override;

    std::string getCode() const { return getProperty("EXT_CODE"); }
    std::string getDisplayName() const { return getProperty("EXT_DISPLAY_NAME"); }
    std::string getDownloadUrl() const { return getProperty("EXT_DOWNLOAD_URL"); }
    void setCode(const std::string& code) { setProperty("EXT_CODE", code); }
    void setDisplayName(const std::string& displayName) { setProperty("EXT_DISPLAY_NAME", displayName); }
    void setDownloadUrl(const std::string& url) { setProperty("EXT_DOWNLOAD_URL", url); }
};
