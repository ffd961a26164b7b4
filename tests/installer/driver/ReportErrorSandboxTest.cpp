#include "installer/driver/ReportError.h"

#include "common/packages/Repository.h"
#include "common/runtime/error.h"
#include "installer/driver/FeedbackFlags.h"
#include "installer/driver/Options.h"
#include "installer/driver/SenderImage.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string disabledMarker = "/var/cordavine/feedback-disabled";

// The installer's own arguments, with a proxy password in both spellings.
char* launchArguments[] = {const_cast<char*>("/opt/installer"),
                           const_cast<char*>("--proxy-password"),
                           const_cast<char*>("s3cret"),
                           const_cast<char*>("--proxy-pass=t0p"),
                           const_cast<char*>("--select-product-id"),
                           const_cast<char*>("moxel")};

class ReportErrorSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        TiXmlBase::SetCondenseWhiteSpace(false);
        testservers::makeCertificate(certs.path());
        server = std::make_unique<testservers::HttpServer>(root.path(), certs.file("cert.pem"),
                                                           certs.file("key.pem"));
        setenv("MOXEL_ERROR_REPORT_URL", server->url("report").c_str(), 1);
        setenv("MOXEL_ERROR_REPORT_CA", certs.file("cert.pem").c_str(), 1);
        Options::saveArguments(6, launchArguments);
        unlink(disabledMarker.c_str());
        setFeedbackRequired(true);
        setCommandLineMode();
    }

    // The bodies of the reports received, waiting for `count` of them.
    std::vector<std::string> reports(size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::vector<std::string> received;
        while (true) {
            received.clear();
            for (const std::string& line : server->requests())
                if (line.find("\"method\": \"POST\"") != std::string::npos)
                    received.push_back(line);
            if (received.size() >= count || std::chrono::steady_clock::now() > deadline)
                return received;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    testsupport::TempDir root, certs;
    std::unique_ptr<testservers::HttpServer> server;
};

// The request line logged by the server is JSON; TinyXML reads the body once JSON's escapes are undone.
std::string bodyOf(const std::string& logLine) {
    const std::string key = "\"body\": \"";
    const size_t start = logLine.find(key) + key.size();
    std::string body;
    for (size_t i = start; i < logLine.size() && logLine[i] != '"'; ++i) {
        if (logLine[i] != '\\') {
            body += logLine[i];
            continue;
        }
        const char escaped = logLine[++i];
        if (escaped == 'n')
            body += '\n';
        else if (escaped == 'u') {
            body += char(std::stoi(logLine.substr(i + 1, 4), nullptr, 16));
            i += 4;
        } else
            body += escaped;
    }
    return body;
}

std::string childText(const TiXmlElement* parent, const char* name) {
    const TiXmlElement* child = parent ? parent->FirstChildElement(name) : nullptr;
    if (!child)
        return "<missing>";
    return child->GetText() ? child->GetText() : "";
}

TEST_F(ReportErrorSandboxTest, FailedRunPostsTheReportDocument) {
    ASSERT_EQ(system("mkdir -p /usr/local/zeq/var"), 0);
    writeFile(ReportError::updateTicketPath, "  ticket-42\n\t");
    ReportError::set_ai_version("3.24.0", "abc123");
    ReportError::set_source_url("http://mirror.example/path?a=1&b=<2>");
    ReportError::set_product_version("moxel", "1:18.0.50");
    Repository repository;
    ReportError::set_packages({}, &repository);
    ReportError::Stream(-1) << "Apt failed to resolve packages:" << std::endl
                            << "Output: \"x\" & <y>" << std::endl;
    ReportError::sendFailure(error(error::packages, 1, 3, 3) << "The installation failed.");
    EXPECT_EQ(ReportError::text(), "");

    const std::vector<std::string> received = reports(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_NE(received[0].find("\"path\": \"/report?action=install&product_version=1%3A18.0.50\""),
              std::string::npos)
        << received[0];
    EXPECT_NE(received[0].find("application/xml"), std::string::npos);

    const std::string body = bodyOf(received[0]);
    EXPECT_EQ(body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?><error>", 0), 0u)
        << body;
    EXPECT_NE(body.find("&lt;y&gt;"), std::string::npos) << "report text escaped";
    TiXmlDocument document;
    document.Parse(body.c_str());
    ASSERT_FALSE(document.Error()) << document.ErrorDesc() << "\n" << body;
    const TiXmlElement* report = document.RootElement();
    EXPECT_EQ(childText(report, "source"), "installer");
    EXPECT_EQ(childText(report, "severity"), "error");
    EXPECT_EQ(childText(report, "datetime").size(), 15u);
    EXPECT_EQ(childText(report, "datetime")[8], 'T');
    EXPECT_EQ(childText(report, "summary"), "The installation failed.\n");
    EXPECT_EQ(childText(report, "component"), "installer");
    const std::string message = childText(report, "message");
    EXPECT_EQ(
        message.rfind("Apt failed to resolve packages:\nOutput: \"x\" & <y>\n\nERROR: \nThe installation "
                      "failed.\n",
                      0),
        0u)
        << message;
    const TiXmlElement* additional = report->FirstChildElement("additional_info");
    EXPECT_EQ(childText(additional, "ai_version"), "3.24.0");
    EXPECT_EQ(childText(additional, "ai_revision"), "abc123");
    EXPECT_EQ(childText(additional, "ai_launch_string"),
              "/opt/installer --proxy-password ******** --proxy-pass=******** --select-product-id moxel ");
    EXPECT_EQ(childText(additional, "ai_source_url"), "http://mirror.example/path?a=1&b=<2>");
    EXPECT_EQ(childText(additional, "update_ticket"), "ticket-42");
    EXPECT_EQ(childText(additional, "packages_info"),
              "No additional packages are required for installation of the selected components.\n");
    for (const char* absent : {"releases_info", "components_info", "user_continued_installation"})
        EXPECT_EQ(childText(additional, absent), "<missing>") << absent;
    EXPECT_EQ(body.find("s3cret"), std::string::npos);
    EXPECT_EQ(body.find("t0p"), std::string::npos);
}

TEST_F(ReportErrorSandboxTest, WhenNoReportIsSent) {
    // An expected stop keeps even the text written before it.
    ReportError::Stream(-1) << "kept";
    ReportError::sendFailure(error(error::user, 1, 1, 1).setFlag(error::flag_expected_stop)
                             << "nothing to do");
    EXPECT_EQ(ReportError::text(), "kept");

    // The feedback rule says no: nothing is sent, but the text starts afresh.
    writeFile(disabledMarker, "");
    ReportError::sendFailure(error(error::system, 1, 1, 2) << "refused");
    EXPECT_EQ(ReportError::text(), "");

    // An empty report text sends nothing even when a report is wanted.
    unlink(disabledMarker.c_str());
    ReportError::send(ReportError::Info());

    // A warning report of the examination shows the user's answer.
    ReportError::Stream(-1) << "examination output\n";
    ReportError::Info precheck;
    precheck.warning = true;
    precheck.component = "precheck";
    precheck.userContinued = 1;
    ReportError::send(precheck);
    const std::vector<std::string> received = reports(1);
    ASSERT_EQ(received.size(), 1u);
    TiXmlDocument document;
    document.Parse(bodyOf(received[0]).c_str());
    EXPECT_EQ(childText(document.RootElement(), "severity"), "warning");
    EXPECT_EQ(childText(document.RootElement(), "message"), "examination output\n");
    EXPECT_EQ(childText(document.RootElement()->FirstChildElement("additional_info"),
                        "user_continued_installation"),
              "false");
}

TEST_F(ReportErrorSandboxTest, SenderPostsNeitherAnEmptyNorAnOversizedReport) {
    const std::string sender = ReportError::installUtility() + " install 2>/dev/null";
    EXPECT_EQ(WEXITSTATUS(system((sender + " </dev/null").c_str())), 1);
    EXPECT_EQ(WEXITSTATUS(system(("head -c 8388609 /dev/zero | " + sender).c_str())), 1);
    EXPECT_EQ(WEXITSTATUS(system(("echo '<error/>' | " + sender).c_str())), 0);
    const std::vector<std::string> received = reports(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(bodyOf(received[0]), "<error/>\n");
}

TEST(ReportErrorUtilitySandboxTest, SenderIsWrittenOnceAndExecutable) {
    const std::string path = ReportError::installUtility();
    EXPECT_EQ(path, ReportError::utilityPath);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    EXPECT_EQ(size_t(info.st_size), sender_image::size);
    EXPECT_EQ(readFile(path),
              std::string(reinterpret_cast<const char*>(sender_image::data), sender_image::size));
    // No temporary file is left beside it.
    EXPECT_EQ(
        system(("test $(ls -A '" + std::string("/usr/local/zeq/admin/bin") + "' | wc -l) -eq 1").c_str()), 0);

    unlink(path.c_str());
    EXPECT_EQ(ReportError::installUtility(), path);
    EXPECT_NE(access(path.c_str(), F_OK), 0) << "written once per process";
}

TEST(ReportErrorUtilitySandboxTest, SenderFailsOnBadUsageAndUnreachableReceiver) {
    const std::string path = ReportError::installUtility();
    EXPECT_EQ(WEXITSTATUS(system((path + " 2>/dev/null </dev/null").c_str())), 2);
    setenv("MOXEL_ERROR_REPORT_URL",
           ("http://127.0.0.1:" + std::to_string(testservers::freePort()) + "/").c_str(), 1);
    EXPECT_EQ(WEXITSTATUS(system(("echo '<error/>' | " + path + " install 2>/dev/null").c_str())), 1);
}

TEST(ReportErrorTextTest, TextKeepsItsNewestLinesWithinTheCap) {
    const std::string line(999, 'x');
    for (size_t i = 0; i < ReportError::maxTextBytes / 1000 + 100; ++i)
        ReportError::Stream(-1) << line << i << std::endl;
    const std::string text = ReportError::text();
    EXPECT_LE(text.size(), ReportError::maxTextBytes);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.compare(0, line.size(), line), 0) << "starts at a whole line";
    const std::string last = std::to_string(ReportError::maxTextBytes / 1000 + 99) + "\n";
    EXPECT_EQ(text.compare(text.size() - last.size(), last.size(), last), 0);
}

} // namespace
