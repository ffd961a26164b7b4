#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class BuildManager;
class ComponentManager;

// How long one installation took, how it ended, which releases of the default product it went
// between and which components it changed; appended as one action to ai_action_time.xml.
class TimeReport {
public:
    static constexpr const char* directory = "/var/log/moxel/install";
    static constexpr const char* fileName = "ai_action_time.xml";
    // The file keeps the newest actions up to this number.
    static constexpr size_t maxActions = 1000;

    TimeReport();

    // Completes and saves the record; never throws, failures are logged. `components` may be null.
    void report(BuildManager* catalogue, ComponentManager* components, bool success);

private:
    struct component_t {
        std::string name;
        std::string mode; // "I", "U" or "R"
        std::string from;
        std::string to;
    };
    struct release_t {
        std::string id;
        std::string action;
        int updateMode;
    };

    void collect(BuildManager* catalogue, ComponentManager* components);
    void save();

    std::time_t start;
    int64_t duration = 0;
    std::string status;
    std::vector<component_t> components;
    std::vector<release_t> releases;
};
