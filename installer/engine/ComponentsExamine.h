#pragma once

#include "installer/catalogue/BuildInfFile.h"
#include "installer/components/AiComponent.h"

#include <boost/shared_ptr.hpp>

#include <set>
#include <string>
#include <vector>

class Build;
class ComponentManager;
class FileFetcher;
class Release;

// Advances the shared status record by one named step and writes the text to the log at level 0.
void reportProgressStep(const std::string& step, const std::string& text);

// Turns one output line of a checking script into one display line.
class ExamineResultFormatter {
public:
    virtual ~ExamineResultFormatter() = default;
    // Two blanks, then the line without trailing white space.
    virtual std::string formatLine(const std::string& line) const;
};

// The checking scripts that builds and components declare for the change about to happen: collected
// from the selection, fetched from the installation source and run before ("pre") or after ("post")
// the change. Failures are kept as results; only the callers turn them into a stop.
class ComponentsExamine {
public:
    struct Examination : BuildInfFile::examine_t {
        // A component name or a release name.
        std::string context;
        // The installed version of the release's product; "" when not installed.
        std::string fromVersion;
        std::string toVersion;
    };

    struct Result {
        std::string name;
        std::string output;
        std::string errors;
        // Exit code 2.
        bool isError = false;
    };

    using examinations_t = std::vector<Examination>;
    using results_t = std::vector<Result>;

    // A script still running after this many seconds is stopped, with everything it started, and
    // counts as a warning result.
    static const int defaultTimeoutSeconds = 600;

    // Collects the examinations of the selection.
    ComponentsExamine(const ComponentManager* components, const FileFetcher* fetcher);

    // Each list runs once; later calls answer from the kept results. True when nothing failed.
    bool doPreExamine(bool onlyAlways);
    bool doPostExamine(bool onlyAlways);
    // The "always" post examinations with {RC} 1, after a failed change.
    bool doFailurePostExamine();

    static bool hasErrors(const results_t& results);
    // Per result its name, then its error output line by line through the formatter.
    static std::string formatResults(const ExamineResultFormatter& formatter, const results_t& results);

    const results_t& getPreResults() const { return preResults; }
    const results_t& getPostResults() const { return postResults; }
    const examinations_t& getPreExaminations() const { return preList; }
    const examinations_t& getPostExaminations() const { return postList; }

    void setTimeoutSeconds(int seconds) { timeoutSeconds = seconds; }

    // Change types: 1 install, 2 upgrade, 3 update; anything else files nothing.
    void addExamination(const BuildInfFile::examine_t& examination, int changeType,
                        const std::string& context, const boost::shared_ptr<Release>& release);
    void addBuildExaminations(const boost::shared_ptr<Build>& build, std::set<const Build*>& visited);

    // Relative to the source: an empty or absolute path unchanged, else below the base directory.
    static std::string scriptPath(const BuildInfFile::examine_t& examination);
    static std::string launcherPath(const BuildInfFile::examine_t& examination);
    // {RC}, {FROM_RELEASE_VERSION} and {TO_RELEASE_VERSION}; the values go in as shell words.
    static std::string expandOptions(const Examination& examination, int rc);

private:
    bool runList(const examinations_t& list, bool onlyAlways, int rc, results_t& results, const char* step);
    void runExaminations(const examinations_t& list, bool onlyAlways, int rc, results_t& results);
    // Runs one examination; false with a result when it failed.
    bool runOne(const Examination& examination, int rc, Result& result);

    examinations_t preList;
    examinations_t postList;
    const FileFetcher* fetcher;
    results_t preResults;
    results_t postResults;
    bool preDone = false;
    bool postDone = false;
    int timeoutSeconds = defaultTimeoutSeconds;
};
