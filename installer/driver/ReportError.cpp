#include "installer/driver/ReportError.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/fileops.h"
#include "common/runtime/util.h"
#include "installer/driver/Driver.h"
#include "installer/driver/FeedbackFlags.h"
#include "installer/driver/Options.h"
#include "installer/driver/PackagesReporter.h"
#include "installer/driver/SenderImage.h"
#include "installer/driver/ToInstallComponentsReporter.h"
#include "installer/driver/ToInstallReleasesReporter.h"

#include <tinyxml.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>

#include <sys/stat.h>

namespace {

struct Values {
    std::string version;
    std::string revision;
    std::string sourceUrl;
    std::string releasesText;
    std::string componentsText;
    std::string packagesText;
    std::string productVersion;
    std::string reportText;
    bool utilityWritten = false;
};

std::mutex valuesLock;

Values& values() {
    static Values shared;
    return shared;
}

// Drops the oldest lines until the text fits.
void keepNewest(std::string& text) {
    if (text.size() <= ReportError::maxTextBytes)
        return;
    size_t cut = text.size() - ReportError::maxTextBytes;
    const size_t lineStart = text.find('\n', cut);
    cut = lineStart == std::string::npos ? cut : lineStart + 1;
    text.erase(0, cut);
}

std::string utcStamp() {
    const std::time_t now = std::time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
    return text;
}

std::string readUpdateTicket() {
    if (!fileops::exists(ReportError::updateTicketPath))
        return "";
    try {
        std::ifstream in(ReportError::updateTicketPath, std::ios::binary);
        if (!in)
            throw std::runtime_error(std::string("unable to open ") + ReportError::updateTicketPath + ": " +
                                     std::strerror(errno));
        std::ostringstream content;
        content << in.rdbuf();
        return util::trim(content.str());
    } catch (const std::exception& e) {
        Log::stream(2, true) << "Error occured while trying to read update ticket: " << e.what();
    } catch (...) {
        Log::stream(2, true) << "Unknown error occured while trying to read update ticket.";
    }
    return "";
}

void addText(TiXmlElement& parent, const char* name, const std::string& text) {
    TiXmlElement child(name);
    child.InsertEndChild(TiXmlText(text));
    parent.InsertEndChild(child);
}

// The command line of the process with the proxy password masked, each word followed by a blank.
std::string launchString() {
    return Options::savedArgv() ? driver::maskedArguments(Options::savedArgc(), Options::savedArgv()) : "";
}

std::string takeReportText() {
    std::lock_guard<std::mutex> hold(valuesLock);
    std::string text;
    text.swap(values().reportText);
    return text;
}

} // namespace

ReportError::Stream& ReportError::Stream::operator<<(std::ostream& (*manipulator)(std::ostream&)) {
    std::ostringstream text;
    manipulator(text);
    return write(text.str());
}

ReportError::Stream& ReportError::Stream::write(const std::string& text) {
    if (text.empty())
        return *this;
    if (level >= 0)
        Log::stream(level, false) << text;
    std::lock_guard<std::mutex> hold(valuesLock);
    values().reportText += text;
    keepNewest(values().reportText);
    return *this;
}

std::string ReportError::text() {
    std::lock_guard<std::mutex> hold(valuesLock);
    return values().reportText;
}

void ReportError::set_ai_version(const std::string& version, const std::string& revision) {
    std::lock_guard<std::mutex> hold(valuesLock);
    values().version = version;
    values().revision = revision;
}

void ReportError::set_source_url(const std::string& url) {
    std::lock_guard<std::mutex> hold(valuesLock);
    values().sourceUrl = url;
}

void ReportError::set_packages(const std::vector<const Package*>& plan, const Repository* repository) {
    std::ostringstream text;
    PackagesReporter(plan, repository, false).put(text);
    std::lock_guard<std::mutex> hold(valuesLock);
    values().packagesText = text.str();
}

void ReportError::set_components(BuildManager* catalogue, ComponentManager* components) {
    std::ostringstream releases, changes;
    ToInstallReleasesReporter(catalogue).put(releases);
    ToInstallComponentsReporter(components).put(changes);
    std::lock_guard<std::mutex> hold(valuesLock);
    values().releasesText = releases.str();
    values().componentsText = changes.str();
}

void ReportError::set_product_version(const std::string& productId, const std::string& version) {
    Log::stream(3, true) << "ReportError::set_product_version(" << productId << ", " << version << ")";
    if (productId != Options::defaultProductId || feedbackProduct() != Options::defaultProductId)
        return;
    std::lock_guard<std::mutex> hold(valuesLock);
    values().productVersion = version;
}

std::string ReportError::document(const Info& info, const std::string& message) {
    const std::string ticket = readUpdateTicket();
    TiXmlElement root("error");
    addText(root, "source", "installer");
    addText(root, "severity", info.warning ? "warning" : "error");
    addText(root, "datetime", utcStamp());
    addText(root, "summary", info.summary);
    addText(root, "component", info.component);
    addText(root, "message", message);
    TiXmlElement additional("additional_info");
    {
        std::lock_guard<std::mutex> hold(valuesLock);
        const Values& facts = values();
        addText(additional, "ai_version", facts.version);
        addText(additional, "ai_revision", facts.revision);
        addText(additional, "ai_launch_string", launchString());
        addText(additional, "ai_source_url", facts.sourceUrl);
        if (!facts.releasesText.empty())
            addText(additional, "releases_info", facts.releasesText);
        if (info.userContinued != 2)
            addText(additional, "user_continued_installation", info.userContinued == 0 ? "true" : "false");
        if (!facts.componentsText.empty())
            addText(additional, "components_info", facts.componentsText);
        if (!facts.packagesText.empty())
            addText(additional, "packages_info", facts.packagesText);
    }
    if (!ticket.empty())
        addText(additional, "update_ticket", ticket);
    root.InsertEndChild(additional);

    TiXmlDocument xml;
    xml.InsertEndChild(TiXmlDeclaration("1.0", "UTF-8", "yes"));
    xml.InsertEndChild(root);
    std::ostringstream out;
    out << xml;
    return out.str();
}

void ReportError::send(const Info& info) {
    const std::string message = takeReportText();
    if (message.empty() || !isFeedbackReportWanted())
        return;
    const std::string report = document(info, message);
    std::string command = util::shell_quote(installUtility()) + " install";
    {
        std::lock_guard<std::mutex> hold(valuesLock);
        if (!values().productVersion.empty())
            command += " --version " + util::shell_quote(values().productVersion);
    }
    exec::run_detached(command, &report);
}

void ReportError::sendFailure(const error& failure) {
    if (failure.hasFlag(error::flag_expected_stop))
        return;
    Stream(-1) << "\nERROR: " << std::endl << failure.getReport() << std::endl;
    Info info;
    info.component = "installer";
    info.summary = failure.getText();
    // A report that cannot be sent must not hide the failure it reports.
    try {
        send(info);
    } catch (const error& e) {
        Log::stream(2, true) << "Unable to send the error report: " << e.getText();
    } catch (const std::exception& e) {
        Log::stream(2, true) << "Unable to send the error report: " << e.what();
    }
}

std::string ReportError::installUtility() {
    std::lock_guard<std::mutex> hold(valuesLock);
    if (values().utilityWritten)
        return utilityPath;
    fileops::create_directory(fileops::parent_path(utilityPath));
    fileops::AtomicFile program(utilityPath, 0755);
    program.write(reinterpret_cast<const char*>(sender_image::data), sender_image::size);
    if (fchmod(program.fd(), 0755) != 0)
        throw error(error::system, 1, 1, 2)
            << "Unable to make " << utilityPath << " executable: " << std::strerror(errno);
    program.commit(false);
    exec::run_command("chcon system_u:object_r:bin_t:s0 " + util::shell_quote(utilityPath), false, false,
                      nullptr, nullptr);
    values().utilityWritten = true;
    return utilityPath;
}

void ReportError::prepareUtility() {
    try {
        installUtility();
    } catch (const error& e) {
        Log::stream(2, true) << "Error occured while trying to install error report utility: " << e.getText();
    } catch (const std::exception& e) {
        Log::stream(2, true) << "Error occured while trying to install error report utility: " << e.what();
    } catch (...) {
        Log::stream(2, true) << "Unknown error occured while trying to install error report utility.";
    }
}
