#include "installer/driver/Reporter.h"

#include "installer/driver/Options.h"

#include <gtest/gtest.h>

#include <tinyxml.h>

#include <iostream>
#include <sstream>

namespace {

// What one record prints on standard output and standard error.
struct Printed {
    std::string out, err;
};

Printed print(const Reporter& record) {
    std::ostringstream out, err;
    std::streambuf* saved = std::cerr.rdbuf(err.rdbuf());
    out << record;
    std::cerr.rdbuf(saved);
    return {out.str(), err.str()};
}

struct RecordCase {
    bool xml;
    const char* prefix;
    int code;
    const char* message;
    const char* errorClass;
    const char* out;
    const char* err;
};

class ReporterPrints : public ::testing::TestWithParam<RecordCase> {
protected:
    void TearDown() override {
        Options::enableXmlOutput = false;
        Options::statusPrefix = "";
    }
};

const char* const declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";

TEST_P(ReporterPrints, ExactlyThisDocument) {
    const RecordCase& c = GetParam();
    Options::enableXmlOutput = c.xml;
    Options::statusPrefix = c.prefix;
    const Printed printed = print(Reporter(c.code, c.message, c.errorClass));
    EXPECT_EQ(printed.out, c.xml ? declaration + std::string(c.out) : std::string(c.out));
    EXPECT_EQ(printed.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ReporterPrints,
    ::testing::Values(
        RecordCase{false, "", 0, "", "", "\n\n", ""},
        RecordCase{false, "", 0, "Installation started", "", "\nInstallation started\n", ""},
        RecordCase{false, "", 1, "Disk full\n", "system", "\nERROR: Disk full\n\n", ""},
        RecordCase{false, "", 2, "Locked.", "", "\nBUSY: Locked.\n", ""},
        RecordCase{false, "", 1, "Interrupted by user", "user", "\nERROR: Interrupted by user\n", ""},
        RecordCase{true, "", 0, "", "", "<dizadizezeroz status=\"ok\" />\n", ""},
        RecordCase{true, "install_", 0, "", "", "<dizadizezeroz status=\"install_ok\" />\n", ""},
        RecordCase{true, "", 1, "Bad \"x\" & <y>\n", "user",
                   "<dizadizezeroz status=\"error\" error_message='Bad &quot;x&quot; &amp; &lt;y&gt;&#x0A;' "
                   "error_class=\"user\" />\n",
                   "ERROR: Bad \"x\" & <y>\n\n"},
        RecordCase{true, "", 1, "", "user", "<dizadizezeroz status=\"error\" />\n", "ERROR: \n"},
        RecordCase{true, "query_", 2, "Locked.", "",
                   "<dizadizezeroz status=\"query_busy\" error_message=\"Locked.\" />\n", ""},
        RecordCase{
            true, "", 1, "Interrupted by user", "user",
            "<dizadizezeroz status=\"error\" error_message=\"Interrupted by user\" error_class=\"user\" />\n",
            "ERROR: Interrupted by user\n"}));

TEST(ReporterTest, PayloadIsTheRootsOnlyChild) {
    Options::statusPrefix = "";
    TiXmlElement data("data");
    data.SetAttribute("secret", "abc");
    std::ostringstream out;
    Reporter(Reporter::ok, "Launched.", "").printXml(out, &data);
    EXPECT_EQ(out.str(),
              std::string(declaration) +
                  "<dizadizezeroz status=\"ok\" error_message=\"Launched.\"><data secret=\"abc\" />"
                  "</dizadizezeroz>\n");
}

} // namespace
