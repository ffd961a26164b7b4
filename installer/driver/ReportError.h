#pragma once

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

class BuildManager;
class ComponentManager;
class Package;
class Repository;
class error;

// The error report: facts collected during the run, the free text the installation code writes
// through Stream, and the sending of both as one XML document to the send-error-report program.
// Every value is guarded, so the web installation thread may write and send while others read.
class ReportError {
public:
    // Formats values as an output stream does; each text goes to the log at the stream's level, as
    // part of the current line (level -1: not logged), and is appended to the report text.
    class Stream {
    public:
        explicit Stream(int level) : level(level) {}

        template <typename T> Stream& operator<<(const T& value) {
            std::ostringstream text;
            text << value;
            return write(text.str());
        }
        Stream& operator<<(std::ostream& (*manipulator)(std::ostream&));

    private:
        Stream& write(const std::string& text);

        int level;
    };

    struct Info {
        bool warning = false;
        std::string component;
        int userContinued = 2; // 0 went on, 1 stopped, 2 not asked
        std::string summary;
    };

    static constexpr const char* utilityPath = "/usr/local/zeq/admin/bin/send-error-report";
    static constexpr const char* updateTicketPath = "/usr/local/zeq/var/update_ticket";
    // The report text keeps its newest part within this size; older lines are dropped.
    static constexpr size_t maxTextBytes = 1024 * 1024;

    static void set_ai_version(const std::string& version, const std::string& revision);
    static void set_source_url(const std::string& url);
    // The plan's text listing, whatever the run's output mode.
    static void set_packages(const std::vector<const Package*>& plan, const Repository* repository);
    // The releases and components the run is about to change, once the selection is final.
    static void set_components(BuildManager* catalogue, ComponentManager* components);
    static void set_product_version(const std::string& productId, const std::string& version);

    // Builds the report and starts the sender detached, when the feedback rule wants a report and
    // the report text is not empty. The report text is empty afterwards in every case.
    static void send(const Info& info);
    // What every handler of a failed run does: unless the error is an expected stop, writes it into
    // the report text and sends it as an "installer" report. Failures to send are only logged.
    static void sendFailure(const error& failure);

    // The sender's path; the program is written out first when this process has not done so yet.
    static std::string installUtility();
    // installUtility, failures only logged.
    static void prepareUtility();

    // Everything written so far.
    static std::string text();
    // The report document around `message`, the report text.
    static std::string document(const Info& info, const std::string& message);
};
