#include "installer/web/BackendProtocol.h"

#include "installer/catalogue/Release.h"
#include "installer/components/ComponentManager.h"
#include "installer/engine/ComponentsExamine.h"
#include "installer/sources/FileFetcher.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/installer/web/BackendAnswers.h"
#include "tests/support/DebugLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

using ::testing::HasSubstr;
using webtest::answerText;
using webtest::golden;
using webtest::raised;
using webtest::Request;

namespace {

// Two checking scripts of a build, served over HTTP on 127.0.0.1: one warns, one fails.
class BackendProtocolExamineTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        ASSERT_EQ(std::system(("mkdir -p '" + source.file("moxel/examine") + "'").c_str()), 0);
        testsupport::writeFile(source.file("moxel/examine/warn.sh"),
                               "#!/bin/sh\necho 'disk <80%> & \"ok\"'; echo 'low space' >&2; exit 1\n");
        testsupport::writeFile(source.file("moxel/examine/fail.sh"),
                               "#!/bin/sh\necho 'port 443 taken' >&2; exit 2\n");
        build = testsupport::makeBuild("moxel");
        build->_parent->_state = 2;
        build->_parent->_update_mode = 1;
        build->_examine = {examination("disk space", "examine/warn.sh"),
                           examination("ports", "examine/fail.sh")};
        components.nodes = {testsupport::makeComponent(build, "base", AiComponent::INSTALL, REQ_INSTALL)};
        protocol.reset();
    }

    static BuildInfFile::examine_t examination(const std::string& name, const std::string& script) {
        BuildInfFile::examine_t made;
        made.scope = "pre_any";
        made.name = name;
        made.script = script;
        made.baseDir = "moxel/";
        return made;
    }

    testsupport::TempDir work;
    testsupport::TempDir source;
    testsupport::TempDir target;
    testservers::HttpServer http{source.path()};
    FileFetcher fetcher{http.url(), target.path()};
    boost::shared_ptr<Build> build;
    ComponentManager components;
    BackendProtocol protocol{false};
};

TEST_F(BackendProtocolExamineTest, ResultsAreAnsweredAndRepeatedUnlessIgnored) {
    ComponentsExamine examine(&components, &fetcher);
    EXPECT_FALSE(examine.doPreExamine(false));
    protocol.sendPreExamine(examine);
    EXPECT_EQ(answerText(protocol), golden("examine.xml", answerText(protocol)));

    struct Case {
        std::string request;
        std::string expected;
    };
    const Case cases[] = {
        {"<request><examine ignore=\"true\"/></request>", "ignored ok 0"},
        {"<request><examine ignore=\"yes\"/></request>", "ignored ok 0"},
        {"<request><examine ignore=\"false\"/></request>", "not ignored warning 2"},
        {"<request><examine ignore=\"no\"/></request>", "not ignored warning 2"},
        {"<request><examine ignore=\"TRUE\"/></request>",
         "binding There is incorrect boolean attribute 'ignore' in element examine (row:1 col:10). Must be "
         "'true' or 'false'."},
        {"<request><examine ignore=\"1\"/></request>",
         "binding There is incorrect boolean attribute 'ignore'"},
        {"<request><examine/></request>",
         "binding There is no attribute 'ignore' in element examine (row:1 col:10)"},
        {"<request/>", "installer/BackendProtocol, line 1155."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        protocol.reset();
        const std::string result = raised([&] {
            const bool ignored = protocol.parsePreExamine(Request(c.request).root(), examine);
            const TiXmlElement& root = protocol.getRoot();
            const TiXmlElement* warnings = root.FirstChildElement("examine");
            int count = 0;
            for (const TiXmlElement* w =
                     warnings ? warnings->FirstChildElement("warnings")->FirstChildElement() : nullptr;
                 w; w = w->NextSiblingElement())
                ++count;
            throw error() << (ignored ? "ignored " : "not ignored ") << root.Attribute("status") << " "
                          << count;
        });
        EXPECT_THAT(result, HasSubstr(c.expected));
    }
}

} // namespace
