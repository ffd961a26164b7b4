#include "installer/web/BackendProtocol.h"

#include "common/runtime/error.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>

namespace {

const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";

std::string printed(const TiXmlDocument& document) {
    TiXmlPrinter printer;
    printer.SetStreamPrinting();
    document.Accept(&printer);
    return printer.Str();
}

void addChild(BackendProtocol& protocol, const char* name) {
    protocol.getRoot().LinkEndChild(new TiXmlElement(name));
}

TEST(BackendProtocolTest, FreshAnswerSaysOkAndHasNoChildren) {
    BackendProtocol protocol(false);
    protocol.reset();
    protocol.sendOk();
    EXPECT_EQ(printed(protocol.getAnswer()), declaration + "<dizadizezeroz status=\"ok\" />");
}

TEST(BackendProtocolTest, StatusWritersSetTheirStatus) {
    struct Case {
        void (*write)(BackendProtocol&);
        std::string root;
    };
    const Case cases[] = {
        {[](BackendProtocol& p) { p.sendPage("components"); },
         "<dizadizezeroz status=\"ok\"><page id=\"components\" /></dizadizezeroz>"},
        {[](BackendProtocol& p) { p.sendBadPage("summary"); },
         "<dizadizezeroz status=\"bad_page\"><page id=\"summary\" /></dizadizezeroz>"},
        {[](BackendProtocol& p) { p.sendPrepareSelfUpgrade(); },
         "<dizadizezeroz status=\"prepare_self_upgrade\" />"},
        {[](BackendProtocol& p) { p.sendStartSelfUpgrade(); },
         "<dizadizezeroz status=\"start_self_upgrade\" />"},
        {[](BackendProtocol& p) {
             addChild(p, "products");
             p.sendError("it broke\n", "user");
         },
         "<dizadizezeroz status=\"error\" error_message=\"it broke&#x0A;\" error_class=\"user\">"
         "<products /></dizadizezeroz>"},
    };
    for (const Case& c : cases) {
        BackendProtocol protocol(false);
        protocol.reset();
        c.write(protocol);
        EXPECT_EQ(printed(protocol.getAnswer()), declaration + c.root);
    }
}

TEST(BackendProtocolTest, UsingTheAnswerBeforeResetIsAnInternalError) {
    BackendProtocol protocol(true);
    EXPECT_THROW(protocol.getAnswer(), error);
    EXPECT_THROW(protocol.getRoot(), error);
    EXPECT_THROW(protocol.sendWarning("w"), error);
    EXPECT_THROW(protocol.sendPage("summary"), error);
    protocol.addWarning("kept");
    protocol.reset();
    addChild(protocol, "products");
    EXPECT_EQ(printed(protocol.getAnswer()),
              declaration +
                  "<dizadizezeroz status=\"warning\"><products /><warning>kept</warning></dizadizezeroz>");
}

// Warnings wait for the first answer whose first element may carry them, and whose status is ok or
// warning; they leave in the order they were added.
TEST(BackendProtocolTest, WarningsWaitForAnAnswerThatTakesThem) {
    struct Case {
        const char* firstChild; // nullptr: no child
        bool error;
        bool takesByName; // answerTakesWarnings
        bool takes;       // flushed into this answer
    };
    const Case cases[] = {
        {nullptr, false, false, false}, {"page", false, false, false},   {"data", false, false, false},
        {"log", false, false, false},   {"products", true, true, false}, {"components", false, true, true},
    };
    for (const Case& c : cases) {
        BackendProtocol protocol(false);
        protocol.reset();
        protocol.sendWarning("first");
        protocol.sendWarning("second");
        if (c.firstChild)
            addChild(protocol, c.firstChild);
        if (c.error)
            protocol.sendError("failed", "internal");
        EXPECT_EQ(protocol.answerTakesWarnings(), c.takesByName);
        const std::string answer = printed(protocol.getAnswer());
        EXPECT_EQ(answer.find("<warning>") != std::string::npos, c.takes) << answer;

        protocol.reset();
        addChild(protocol, "products");
        EXPECT_EQ(printed(protocol.getAnswer()),
                  declaration +
                      (c.takes ? "<dizadizezeroz status=\"ok\"><products /></dizadizezeroz>"
                               : "<dizadizezeroz status=\"warning\"><products /><warning>first</warning>"
                                 "<warning>second</warning></dizadizezeroz>"))
            << (c.firstChild ? c.firstChild : "no child");
    }
}

} // namespace
