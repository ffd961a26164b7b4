#include "installer/web/BackendProtocol.h"

#include "installer/driver/Options.h"
#include "tests/installer/web/BackendAnswers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using ::testing::Not;
using webtest::answerText;
using webtest::golden;
using webtest::raised;
using webtest::Request;

namespace {

class BackendProtocolPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { protocol.reset(); }

    // The record after parsing the preferences element of the request, starting from `current`.
    PreferencesRecord parsed(const std::string& preferences, const PreferencesRecord& current,
                             bool good = true) {
        const Request request("<request><command value=\"set_preferences\"/>" + preferences + "</request>");
        PreferencesRecord record = current;
        EXPECT_EQ(protocol.parsePreferences(record, request.root().child("preferences")), good)
            << preferences;
        return record;
    }

    static std::string text(const PreferencesRecord& r) {
        return r.source + "|" + r.target + "|" + r.proxyHost + "|" + std::to_string(r.proxyPort) + "|" +
               r.proxyUser + "|" + r.proxyPassword;
    }

    BackendProtocol protocol{false};
};

TEST_F(BackendProtocolPreferencesTest, AnswerNamesTheSourceTypeAndNeverThePassword) {
    struct Case {
        std::string source;
        bool locked;
        Downloader::Proxy proxy;
    };
    const Case cases[] = {
        {Options::defaultSource, false, {}},
        {"/srv/moxel mirror", true, {"proxy.example", 3128, "", ""}},
        {"https://mirror.example/moxel/?a=1&b=\"2\"",
         false,
         {"proxy.example", 8080, "caf\xC3\xA9", "s3cret<&>"}},
        {"ftp://mirror.example/", false, {"proxy.example", 8080, "user", ""}},
    };
    std::string answers;
    for (const Case& c : cases) {
        protocol.reset();
        protocol.sendPreferences(c.source, c.locked, "/var/cache/moxel & co", c.proxy);
        answers += answerText(protocol);
    }
    EXPECT_EQ(answers, golden("preferences.xml", answers));
    EXPECT_THAT(answers, Not(HasSubstr("s3cret")));
}

TEST_F(BackendProtocolPreferencesTest, RequestSetsWhatItCarries) {
    const PreferencesRecord current{"https://old.example/", "/old", "old-proxy", 3128, "olduser", "oldpass"};
    const std::string longPath = "/srv/" + std::string(3000, 'p');
    struct Case {
        std::string preferences;
        std::string expected;
    };
    const Case cases[] = {
        {"<preferences/>", "https://old.example/|/old|old-proxy|3128|olduser|oldpass"},
        {"<preferences><source type=\"moxel\"><target path=\"/t\"/></source></preferences>",
         std::string(Options::defaultSource) + "|/t|old-proxy|3128|olduser|oldpass"},
        {"<preferences><source type=\"mirror\"><mirror src=\"http://m.example/?a=1&amp;b=&quot;2&quot;\"/>"
         "<target path=\"/t\"/></source></preferences>",
         "http://m.example/?a=1&b=\"2\"|/t|old-proxy|3128|olduser|oldpass"},
        {"<preferences><source type=\"local\"><source path=\"" + longPath +
             "\"/><target path=\"/t\xC3\xA9\"/>"
             "</source></preferences>",
         longPath + "|/t\xC3\xA9|old-proxy|3128|olduser|oldpass"},
        // A new host and user; an empty password field keeps the stored password.
        {"<preferences><proxy use=\"true\" host=\"p.example\" port=\"8080\">"
         "<auth use=\"true\" user=\"new\" password=\"\"/></proxy></preferences>",
         "https://old.example/|/old|p.example|8080|new|oldpass"},
        {"<preferences><proxy use=\"true\" host=\"p.example\" port=\"8080\">"
         "<auth use=\"true\" user=\"new\" password=\"a&amp;&quot;b\"/></proxy></preferences>",
         "https://old.example/|/old|p.example|8080|new|a&\"b"},
        // Turning the proxy off forgets it.
        {"<preferences><proxy use=\"false\" host=\"p.example\" port=\"1\"/></preferences>",
         "https://old.example/|/old||0||"},
        {"<preferences><proxy use=\"true\" host=\"p.example\" port=\"8080\"><auth use=\"false\"/></proxy>"
         "</preferences>",
         "https://old.example/|/old|p.example|8080||"},
        // Anything but the two words changes nothing.
        {"<preferences><proxy use=\"maybe\" host=\"p.example\" port=\"1\"/></preferences>",
         "https://old.example/|/old|old-proxy|3128|olduser|oldpass"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.preferences);
        EXPECT_EQ(text(parsed(c.preferences, current)), c.expected);
    }
    EXPECT_EQ(protocol.getRoot().Attribute("status"), std::string("ok"));
}

TEST_F(BackendProtocolPreferencesTest, BadSourceTypesAnswerTheAnnotatedRequestWithoutPassword) {
    const PreferencesRecord current{"https://old.example/", "/old", "", 0, "", ""};
    std::string answers;
    for (const std::string type : {"", "ftp"}) {
        protocol.reset();
        const PreferencesRecord record =
            parsed("<preferences><source type=\"" + type +
                       "\"><target path=\"/new\"/></source>"
                       "<proxy use=\"true\" host=\"p.example\" port=\"3128\">"
                       "<auth use=\"true\" user=\"u\" password=\"hidden\"/></proxy></preferences>",
                   current, false);
        EXPECT_EQ(record.source, current.source);
        answers += answerText(protocol);
    }
    EXPECT_EQ(answers, golden("preferences-bad-values.xml", answers));
    EXPECT_THAT(answers, Not(HasSubstr("hidden")));
}

TEST_F(BackendProtocolPreferencesTest, MissingPartsAndBadNumbersRaise) {
    struct Case {
        std::string preferences;
        std::string expected;
    };
    const Case cases[] = {
        {"<preferences><source type=\"mirror\"><target path=\"/t\"/></source></preferences>",
         "binding There is no child element 'mirror' in tag 'source'"},
        {"<preferences><source type=\"local\"><target path=\"/t\"/></source></preferences>",
         "binding There is no child element 'source' in tag 'source'"},
        {"<preferences><source type=\"moxel\"/></preferences>",
         "binding There is no child element 'target' in tag 'source'"},
        {"<preferences><proxy use=\"true\" host=\"h\" port=\"80a\"/></preferences>",
         "Invalid number format."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.preferences);
        const Request request("<request>" + c.preferences + "</request>");
        PreferencesRecord record;
        EXPECT_THAT(raised([&] { protocol.parsePreferences(record, request.root().child("preferences")); }),
                    HasSubstr(c.expected));
    }
}

// ---------------------------------------------------------------------------------------------------------
// Log and data

TEST_F(BackendProtocolPreferencesTest, LogSizeIsADecimalCount) {
    struct Case {
        std::string command;
        std::string expected;
    };
    const Case cases[] = {
        {"<command value=\"get_log\" size=\"4096\"/>", "4096"},
        {"<command value=\"get_log\" size=\"0\"/>", "0"},
        {"<command value=\"get_log\"/>", "installer/BackendProtocol, line"},
        {"<command value=\"get_log\" size=\"\"/>", "installer/BackendProtocol, line"},
        // A negative count would read as a huge one.
        {"<command value=\"get_log\" size=\"-1\"/>", "installer/BackendProtocol, line"},
        {"<command value=\"get_log\" size=\"12k\"/>", "Invalid number format."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const Request request("<request>" + c.command + "</request>");
        std::string result;
        try {
            result = std::to_string(protocol.parseGetLog(request.root()));
        } catch (const error& e) {
            result = e.getText();
        }
        EXPECT_THAT(result, HasSubstr(c.expected));
    }
}

TEST_F(BackendProtocolPreferencesTest, LogAnswerCarriesTheTextAsIs) {
    protocol.sendLog("Installing <moxel> & \"friends\"\nDone.\n");
    EXPECT_EQ(answerText(protocol), golden("log.xml", answerText(protocol)));
}

TEST_F(BackendProtocolPreferencesTest, IconRequestNamesProductAndState) {
    struct Case {
        std::string command;
        std::string expected;
    };
    const Case cases[] = {
        {"<command prod_id=\"moxel\" enabled=\"true\"/>", "moxel 1"},
        {"<command enabled=\"no\"/>", " 0"},
        {"<command prod_id=\"moxel\"/>", "binding There is no attribute 'enabled'"},
        {"<command prod_id=\"moxel\" enabled=\"1\"/>",
         "binding There is incorrect boolean attribute 'enabled'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const Request request("<request>" + c.command + "</request>");
        std::string result = raised([&] {
            const ProductIconRequest icon = protocol.parseGetProductIcon(request.root());
            throw error() << icon.productId << " " << (icon.enabled ? 1 : 0);
        });
        EXPECT_THAT(result, HasSubstr(c.expected));
    }
}

TEST_F(BackendProtocolPreferencesTest, DataIsBase64InLinesOf76) {
    auto bytes = [](size_t count) {
        std::vector<char> data;
        for (size_t i = 0; i < count; ++i)
            data.push_back(static_cast<char>(i * 7 + 250));
        return data;
    };
    auto encoded = [&](size_t count) {
        protocol.reset();
        protocol.sendData(bytes(count));
        return std::string(protocol.getRoot().FirstChildElement("data")->GetText());
    };
    EXPECT_EQ(encoded(1), "+g==");
    EXPECT_EQ(encoded(2), "+gE=");
    EXPECT_EQ(encoded(3), "+gEI");
    const std::string line57 = encoded(57);
    EXPECT_EQ(line57.size(), 78u);
    EXPECT_EQ(line57.substr(76), "\r\n");
    const std::string line58 = encoded(58);
    EXPECT_EQ(line58.substr(0, 78), line57);
    EXPECT_EQ(line58.size(), 78u + 4u);
    EXPECT_EQ(line58.substr(80), "==");

    protocol.reset();
    protocol.sendData(bytes(130));
    EXPECT_EQ(answerText(protocol), golden("icon.xml", answerText(protocol)));
    EXPECT_THAT(raised([&] { protocol.sendData({}); }), HasSubstr("installer/BackendProtocol, line"));
}

} // namespace
