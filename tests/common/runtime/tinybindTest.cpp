#include "common/runtime/tinybind.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class TinybindTest : public ::testing::Test {
protected:
    std::string write(const std::string& content, const std::string& name = "doc.xml") {
        testsupport::writeFile(dir.file(name), content);
        return dir.file(name);
    }
    // The err raised by the call, or a failure.
    template <typename Call> tinybind::err failure(Call call) {
        try {
            call();
        } catch (const tinybind::err& e) {
            return e;
        }
        ADD_FAILURE() << "nothing raised";
        return tinybind::err{99, ""};
    }

    testsupport::TempDir dir;
};

// Rows and columns below refer to this layout (tabs count as four columns).
const char* const build_xml = "<?xml version=\"1.0\"?>\n"
                              "<build version=\"1\">\n"
                              "  <component name=\"base\" flag=\"yes\" empty=\"\" odd=\"True\" one=\"1\">\n"
                              "\t<package name=\"a\"/>\n"
                              "    <!-- comment -->\n"
                              "    text<package name=\"b\"/>more\n"
                              "    <note>hello</note>\n"
                              "    <holder><inner/></holder>\n"
                              "    <blank></blank>\n"
                              "  </component>\n"
                              "</build>\n";

TEST_F(TinybindTest, MissingPathAndDirectoryAreRefused) {
    std::string missing = dir.file("nothing.xml");
    tinybind::err e = failure([&] { tinybind::Document d(missing); });
    EXPECT_EQ(e.code, -1);
    EXPECT_EQ(e.text, "File " + missing + " not exists");

    e = failure([&] { tinybind::Document d(dir.path()); });
    EXPECT_EQ(e.code, -1);
    EXPECT_EQ(e.text, dir.path() + " is directory, xml file expected.");
}

TEST_F(TinybindTest, SyntaxErrorsCarryTheirRowAndColumn) {
    struct {
        const char* content;
        int code;
        const char* text;
        int row, column;
    } cases[] = {
        {"<?xml version=\"1.0\"?>\n<build>\n  <component name=\"x\">\n    <package name=\"a\">\n</build>\n",
         TiXmlBase::TIXML_ERROR_READING_END_TAG, "Error reading end tag.", 5, 1},
        {"<a>\n  <b c=\"1>\n</a>\n", TiXmlBase::TIXML_ERROR_PARSING_ELEMENT, "Error parsing Element.", 2, 6},
        {"", TiXmlBase::TIXML_ERROR_DOCUMENT_EMPTY, "Error document empty.", 0, 0},
    };
    for (const auto& c : cases) {
        std::string path = write(c.content);
        try {
            tinybind::Document d(path);
            ADD_FAILURE() << "parsed: " << c.content;
        } catch (const tinybind::parse_err& e) {
            EXPECT_EQ(e.code, c.code) << c.content;
            EXPECT_EQ(e.text, c.text);
            EXPECT_EQ(e.row, c.row) << c.content;
            EXPECT_EQ(e.column, c.column) << c.content;
        }
    }
}

std::string repeated(const std::string& piece, size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

// A document nested 100,000 deep would overflow the stack in TinyXML's parser; it is refused with
// the file named, however the nesting hides among markup that TinyXML reads its own way.
TEST_F(TinybindTest, DeeplyNestedDocumentsAreRefused) {
    const size_t deep = 100000;
    const std::string nestings[] = {
        repeated("<a>", deep) + repeated("</a>", deep),
        repeated("<a x=\"</a>\">", deep),
        repeated("<a x='/>'>", deep),
        repeated("<a><!--</a>-->", deep),
        repeated("<a><![CDATA[</a>]]>", deep),
        repeated("<a><?xml version='</a>'?>", deep),
        repeated("<a><?xml foo='a version='</a>'?>", deep),
        repeated("<a>\xE0</a>", deep),
        repeated("<a \xEF\xBB\xBFx='</a>'>", deep),
        repeated("<a></a \xEF\xBB\xBF>", deep),
        repeated("<a></b>", deep),
        repeated("<a>", tinybind::max_depth + 1),
    };
    for (const std::string& text : nestings) {
        SCOPED_TRACE(text.substr(0, 40));
        const std::string path = write(text);
        tinybind::err e = failure([&] { tinybind::Document d(path); });
        EXPECT_EQ(e.code, 1);
        EXPECT_THAT(e.text, ::testing::HasSubstr(path));
        EXPECT_THAT(e.text, ::testing::HasSubstr("deeper than 256 levels"));
    }
}

// The limit leaves real documents alone: many siblings, markup characters in comments, CDATA and
// attribute values, and texts in other encodings as long as they are small.
TEST_F(TinybindTest, DocumentsWithinTheLimitAreRead) {
    const std::string documents[] = {
        repeated("<a>", tinybind::max_depth) + repeated("</a>", tinybind::max_depth),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>" +
            repeated("<a x=\"<b>\"><!-- <c> --><![CDATA[<d>]]>t\xC3\xA9xt</a>", 5000) + "</r>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r><a>caf\xE9</a></r>",
    };
    for (const std::string& text : documents) {
        SCOPED_TRACE(text.substr(0, 40));
        const std::string path = write(text);
        EXPECT_NO_THROW(tinybind::Document d(path));
    }
}

TEST_F(TinybindTest, UnopenableFileIsAParseError) {
    // A socket exists and is no directory, but cannot be opened, even by root.
    std::string path = dir.file("socket.xml");
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    tinybind::err e = failure([&] { tinybind::Document d(path); });
    close(fd);
    EXPECT_EQ(e.code, TiXmlBase::TIXML_ERROR_OPENING_FILE);
    EXPECT_EQ(e.text, "Failed to open file");
}

TEST_F(TinybindTest, RootChecksTheExpectedName) {
    tinybind::Document d(write("<product id=\"x\"/>"));
    tinybind::err e = failure([&] { d.root("build"); });
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(e.text, "Root element name not match");
    EXPECT_STREQ(d.root("")->Value(), "product");
    EXPECT_STREQ(d.root("product")->Value(), "product");
}

class TinybindElementTest : public TinybindTest {
protected:
    void SetUp() override {
        document = std::make_unique<tinybind::Document>(write(build_xml));
        build = tinybind::Element(document->root("build"));
        component = build.child("component");
    }

    std::unique_ptr<tinybind::Document> document;
    tinybind::Element build;
    tinybind::Element component;
};

TEST_F(TinybindElementTest, AttributesOptionalAndRequired) {
    EXPECT_EQ(component.attribute("name"), "base");
    EXPECT_EQ(component.attribute("empty"), "");
    EXPECT_EQ(component.attribute("absent"), "");
    EXPECT_EQ(component.requiredAttribute("empty"), "");
    tinybind::err e = failure([&] { component.requiredAttribute("absent"); });
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(e.text, "There is no attribute 'absent' in element component (row:3 col:3)");

    tinybind::Element tabbed = component.child("package");
    EXPECT_EQ(failure([&] { tabbed.requiredAttribute("x"); }).text,
              "There is no attribute 'x' in element package (row:4 col:5)");
}

TEST_F(TinybindElementTest, BooleansAreExactWords) {
    tinybind::Document d(write("<f a=\"true\" b=\"yes\" c=\"false\" d=\"no\"/>", "flags.xml"));
    tinybind::Element flags(d.root("f"));
    EXPECT_TRUE(flags.boolAttribute("a"));
    EXPECT_TRUE(flags.boolAttribute("b"));
    EXPECT_FALSE(flags.boolAttribute("c"));
    EXPECT_FALSE(flags.boolAttribute("d"));

    EXPECT_TRUE(component.boolAttribute("flag"));
    for (const char* bad : {"odd", "one", "empty"}) {
        tinybind::err e = failure([&] { component.boolAttribute(bad); });
        EXPECT_EQ(e.code, 1);
        EXPECT_EQ(e.text, std::string("There is incorrect boolean attribute '") + bad +
                              "' in element component (row:3 col:3). Must be 'true' or 'false'.");
    }
    EXPECT_EQ(failure([&] { component.boolAttribute("absent"); }).text,
              "There is no attribute 'absent' in element component (row:3 col:3)");
}

TEST_F(TinybindElementTest, TextNeedsExactlyOneTextNode) {
    EXPECT_EQ(component.child("note").text(false), "hello");

    tinybind::err e = failure([&] { component.text(false); });
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(e.text, "There is not only text node in element 'component' (row:3 col:3)");

    tinybind::Element holder = component.child("holder");
    EXPECT_EQ(failure([&] { holder.text(false); }).text,
              "Text node not found in element 'holder' (row:8 col:5)");
    EXPECT_EQ(holder.text(true), "");
    EXPECT_EQ(component.child("blank").text(true), "");
}

TEST_F(TinybindElementTest, MissingChildIsNotFound) {
    try {
        component.child("missing");
        FAIL() << "nothing raised";
    } catch (const tinybind::notfound& e) {
        EXPECT_EQ(e.code, 1);
        EXPECT_EQ(e.text, "There is no child element 'missing' in tag 'component'");
    }
}

TEST_F(TinybindElementTest, FindChildNullsTheHandleInsteadOfRaising) {
    tinybind::Element handle = component;
    handle.findChild("holder");
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle.name(), "holder");
    handle.findChild("inner");
    EXPECT_EQ(handle.name(), "inner");

    handle = component;
    handle.findChild("nothing");
    EXPECT_FALSE(handle);
    EXPECT_EQ(handle.getErrorText(), "not found child element nothing in element component");
    handle.findChild("package");
    EXPECT_FALSE(handle);
    EXPECT_EQ(handle.getErrorText(), "not found child element nothing in element component");

    handle = component;
    handle.findChild("");
    EXPECT_FALSE(handle);
    EXPECT_EQ(handle.getErrorText(), "not specified child element name");
}

TEST_F(TinybindElementTest, FindChildByAttributeValue) {
    tinybind::Element handle = component;
    handle.findChild("package", "name", "b");
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle.get()->Row(), 6);

    handle = component;
    handle.findChild("package", "name", "c");
    EXPECT_FALSE(handle);
    EXPECT_EQ(handle.getErrorText(),
              "not found child element package in element component with attribute name=\"c\"");
}

TEST_F(TinybindElementTest, NullHandleRaisesCodeZero) {
    tinybind::Element null;
    std::vector<tinybind::err> errors = {
        failure([&] { null.attribute("a"); }),
        failure([&] { null.requiredAttribute("a"); }),
        failure([&] { null.boolAttribute("a"); }),
        failure([&] { null.child("a"); }),
        failure([&] { null.text(true); }),
        failure([&] { null.name(); }),
        failure([&] { tinybind::ChildIterator it(null, ""); }),
    };
    for (const tinybind::err& e : errors) {
        EXPECT_EQ(e.code, 0);
        EXPECT_EQ(e.text, "no element pointer");
    }
}

TEST_F(TinybindElementTest, ChildIteratorVisitsElementsOnly) {
    std::vector<std::string> all;
    for (tinybind::ChildIterator it(component, ""); it != tinybind::ChildIterator(); ++it)
        all.push_back((*it).name());
    EXPECT_THAT(all, ::testing::ElementsAre("package", "package", "note", "holder", "blank"));

    std::vector<std::string> packages;
    for (tinybind::ChildIterator it(component, "package"), end; it != end; ++it)
        packages.push_back((*it).attribute("name"));
    EXPECT_THAT(packages, ::testing::ElementsAre("a", "b"));

    tinybind::ChildIterator none(component, "absent");
    EXPECT_TRUE(none == tinybind::ChildIterator());
    ++none;
    EXPECT_TRUE(none == tinybind::ChildIterator());
}

TEST_F(TinybindElementTest, FreeHelpers) {
    std::string target = "default";
    EXPECT_EQ(tinybind::readAttribute(target, component.get(), "absent"), nullptr);
    EXPECT_EQ(target, "default");
    EXPECT_NE(tinybind::readAttribute(target, component.get(), "empty"), nullptr);
    EXPECT_EQ(target, "");

    const TiXmlText* first = tinybind::firstTextChild(component.get());
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->Value(), "text");
    EXPECT_EQ(tinybind::firstTextChild(component.child("holder").get()), nullptr);

    TiXmlElement answer("answer");
    answer.InsertEndChild(TiXmlElement("first"));
    tinybind::appendText(answer, "a < b & c");
    ASSERT_NE(answer.LastChild()->ToText(), nullptr);
    EXPECT_STREQ(answer.LastChild()->Value(), "a < b & c");

    TiXmlElement single("answer");
    tinybind::appendText(single, "a < b & c");
    TiXmlPrinter printer;
    single.Accept(&printer);
    EXPECT_EQ(printer.Str(), "<answer>a &lt; b &amp; c</answer>\n");
}

} // namespace
