#include "installer/patches/SelfUpgrade.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/ProgramInfo.h"
#include "installer/catalogue/BuildInfFile.h"
#include "installer/driver/Options.h"
#include "tests/installer/catalogue/CatalogueTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::HasSubstr;

namespace {

class SelfUpgradeTest : public cataloguetest::CatalogueTest {
protected:
    static std::string demand(const std::string& version) {
        return "<exact_required_dizadizezeroz version=\"" + version + "\"/>";
    }

    // Writes a source whose `where` file carries the demand, and reports whether loading it asked for
    // the upgrade. Other failures of the half-made catalogue do not matter here.
    bool asksForUpgrade(const std::string& where, const std::string& version) {
        const std::string entryDemand = where == "entry" ? demand(version) : "";
        const std::string productDemand = where == "product" ? demand(version) : "";
        const std::string buildDemand = where == "build" ? demand(version) : "";
        put("products.inf3",
            "<vendors>" + entryDemand +
                "<vendor><products><product id=\"p\" reference=\"p/product.inf3\"/></products>"
                "</vendor></vendors>");
        put("p/product.inf3", "<product id=\"p\">" + productDemand +
                                  "<keypackages><keypackage>k</keypackage>"
                                  "</keypackages></product>");
        put("build.inf3", "<build>" + buildDemand + "</build>");
        try {
            if (where == "build")
                BuildInfFile(source.file("build.inf3"), "build.inf3");
            else
                load();
        } catch (const SelfUpgrade::NeedSelfUpgrade&) {
            return true;
        } catch (const error&) {
        }
        return false;
    }
};

TEST_F(SelfUpgradeTest, EveryCatalogueFileDemandsAnyOtherVersion) {
    const std::string own = program_info::version;
    for (const std::string where : {"entry", "product", "build"}) {
        SCOPED_TRACE(where);
        EXPECT_FALSE(asksForUpgrade(where, own));
        EXPECT_FALSE(asksForUpgrade(where, ""));
        EXPECT_TRUE(asksForUpgrade(where, own + ".1"));
        EXPECT_TRUE(asksForUpgrade(where, "1.0.0"));
    }
}

TEST_F(SelfUpgradeTest, DisabledUpgradeOnlyWarns) {
    Options::instance().disableSelfUpgrade = true;
    EXPECT_FALSE(asksForUpgrade("entry", "1.0.0"));
    EXPECT_THAT(logText(),
                HasSubstr(std::string("Current dizadizezeroz version '") + program_info::version +
                          "', required = '1.0.0', but won't upgrade self due --disable-self-upgrade"));
}

TEST_F(SelfUpgradeTest, DefaultNameFoldsTheArchitectureAndVersion) {
    Opsys::override_name = "Linux";
    Opsys::override_vendor = "Debian";
    Opsys::override_version = "10.13";
    Opsys::override_arch = "i686";
    EXPECT_EQ(SelfUpgrade::default_binary_name(), "cordavine_installer_Debian_10.0_i386");
}

} // namespace
