#include "installer/driver/TimeReport.h"

#include "installer/catalogue/BuildManager.h"
#include "installer/components/ComponentManager.h"
#include "installer/sources/FileFetcher.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdlib>

using testsupport::makeComponent;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string fixture = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/source/";
const std::string history = std::string(TimeReport::directory) + "/" + TimeReport::fileName;

// The test source's catalogue (moxel-18.0.1, pagewright-2.5.0) with an older moxel release added.
class TimeReportSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(system(("rm -rf /var/log/moxel && mkdir -p " + std::string(TimeReport::directory)).c_str()),
                  0);
        FileFetcher fetcher(fixture, target.path());
        catalogue = std::make_unique<BuildManager>(fetcher, "");
        const boost::shared_ptr<Release> newest = release("moxel-18.0.1");
        older =
            boost::make_shared<Release>(newest->_product, "moxel-17.0.0", "Moxel 17", "", "17.0.0", "17.0.0");
        catalogue->_releases.push_back(older);
        for (const auto& each : catalogue->_releases) {
            each->_state = 2;
            each->_update_mode = 1;
        }
    }

    boost::shared_ptr<Release> release(const std::string& id) const {
        for (const auto& each : catalogue->_releases)
            if (each->_id == id)
                return each;
        throw std::runtime_error("no release " + id);
    }

    void installedOlderAndSelectedNewest() {
        older->_installed_version = "17.0.0";
        older->_update_mode = 4;
        release("moxel-18.0.1")->_selected = true;
        release("moxel-18.0.1")->_update_mode = 2;
        release("moxel-18.0.1")->_installed_version = "17.0.0";
    }

    // The actions of the history file, which must read as XML.
    std::vector<const TiXmlElement*> actions(TiXmlDocument& document) const {
        EXPECT_TRUE(document.LoadFile(history.c_str())) << document.ErrorDesc();
        std::vector<const TiXmlElement*> found;
        const TiXmlElement* reports = document.FirstChildElement("reports");
        for (const TiXmlElement* a = reports ? reports->FirstChildElement("action") : nullptr; a;
             a = a->NextSiblingElement("action"))
            found.push_back(a);
        return found;
    }

    static std::string attributes(const TiXmlElement* element) {
        std::string text;
        for (const TiXmlAttribute* a = element ? element->FirstAttribute() : nullptr; a; a = a->Next())
            text += std::string(a->Name()) + "=" + a->Value() + " ";
        return text;
    }

    testsupport::TempDir target;
    std::unique_ptr<BuildManager> catalogue;
    boost::shared_ptr<Release> older;
};

TEST_F(TimeReportSandboxTest, RecordsReleasesAndComponentsOfEachKind) {
    const boost::shared_ptr<Build> build = testsupport::makeBuild("moxel");
    ComponentManager tree;
    const comp_ptr_t upgraded = makeComponent(build, "base", AiComponent::UPGRADE, REQ_INSTALL);
    upgraded->installedVersion = "17.0.0";
    upgraded->availableVersion = "18.0.1";
    tree.nodes = {upgraded, makeComponent(build, "mail", AiComponent::INSTALL, REQ_INSTALL),
                  makeComponent(build, "dns", AiComponent::UP2DATE, REQ_REMOVE),
                  makeComponent(build, "web", AiComponent::UP2DATE, REQ_LEAVE)};
    release("pagewright-2.5.0")->_selected = true;

    // A first installation, an upgrade, then a run that only installed patches.
    release("moxel-18.0.1")->_selected = true;
    TimeReport().report(catalogue.get(), &tree, true);
    installedOlderAndSelectedNewest();
    TimeReport().report(catalogue.get(), &tree, false);
    release("moxel-18.0.1")->_selected = false;
    TimeReport().report(catalogue.get(), nullptr, true);

    TiXmlDocument document;
    const std::vector<const TiXmlElement*> found = actions(document);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(attributes(found[0]).substr(0, 25), "version=1.0.0 timestamp=2");
    EXPECT_NE(attributes(found[0]).find(" status=success "), std::string::npos);
    EXPECT_NE(attributes(found[1]).find(" status=failed "), std::string::npos);
    EXPECT_EQ(attributes(found[0]->FirstChildElement("release")),
              "version= new_version=moxel-18.0.1 mode=install ");
    EXPECT_EQ(attributes(found[1]->FirstChildElement("release")),
              "version=moxel-17.0.0 new_version=moxel-18.0.1 mode=upgrade ");
    EXPECT_EQ(attributes(found[2]->FirstChildElement("release")), "version=moxel-17.0.0 mode=mu_install ");

    std::string components;
    for (const TiXmlElement* c = found[1]->FirstChildElement("components")->FirstChildElement(); c;
         c = c->NextSiblingElement())
        components += attributes(c) + "| ";
    EXPECT_EQ(
        components,
        "name=moxel/base mode=U from=17.0.0 to=18.0.1 | name=moxel/mail mode=I | name=moxel/dns mode=R | ");
    EXPECT_EQ(found[2]->FirstChildElement("components")->FirstChildElement(), nullptr);
}

TEST_F(TimeReportSandboxTest, UnreadableHistoryIsReplacedAndMissingDirectoryWritesNothing) {
    std::string deep = "<reports>";
    for (int i = 0; i < 200000; ++i)
        deep += "<a>";
    installedOlderAndSelectedNewest();
    for (const std::string& unreadable : {std::string("<reports><action"), deep}) {
        writeFile(history, unreadable);
        TimeReport().report(catalogue.get(), nullptr, true);
        TiXmlDocument document;
        EXPECT_EQ(actions(document).size(), 1u) << unreadable.substr(0, 20);
    }

    ASSERT_EQ(system("rm -rf /var/log/moxel"), 0);
    TimeReport().report(catalogue.get(), nullptr, true);
    EXPECT_NE(access(history.c_str(), F_OK), 0);
}

TEST_F(TimeReportSandboxTest, ThreeReleasesWithComponentChangesAddNoAction) {
    installedOlderAndSelectedNewest();
    catalogue->_releases.push_back(
        boost::make_shared<Release>(older->_product, "moxel-16.0.0", "Moxel 16", "", "16.0.0", "16.0.0"));
    catalogue->_releases.back()->_state = 2;
    catalogue->_releases.back()->_selected = true;
    ComponentManager tree;
    tree.nodes = {makeComponent(testsupport::makeBuild("moxel"), "mail", AiComponent::INSTALL, REQ_INSTALL)};
    TimeReport().report(catalogue.get(), &tree, true);
    EXPECT_NE(access(history.c_str(), F_OK), 0);
}

TEST_F(TimeReportSandboxTest, HistoryKeepsTheNewestActionsAndLeavesNoTemporaryFile) {
    std::string old = "<?xml version=\"1.0\" ?><reports>";
    for (size_t i = 0; i < TimeReport::maxActions; ++i)
        old += "<action version=\"1.0.0\" duration=\"" + std::to_string(i) + "\"/>";
    writeFile(history, old + "</reports>");
    installedOlderAndSelectedNewest();
    TimeReport().report(catalogue.get(), nullptr, true);

    TiXmlDocument document;
    const std::vector<const TiXmlElement*> found = actions(document);
    ASSERT_EQ(found.size(), TimeReport::maxActions);
    EXPECT_STREQ(found.front()->Attribute("duration"), "1") << "the oldest action went";
    EXPECT_NE(found.back()->FirstChildElement("release"), nullptr);
    EXPECT_EQ(system(("test $(ls -A " + std::string(TimeReport::directory) + " | wc -l) -eq 1").c_str()), 0);
}

} // namespace
