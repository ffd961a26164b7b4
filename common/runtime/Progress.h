#pragma once

#include <cstdint>
#include <string>

// Where a run stands, published to the shared status record, and when a run may be stopped by a
// signal. The signal handler only records the signal; long operations poll for it at safe points.
class Progress {
public:
    // Ends a run on a signal. It is thrown wrapped by boost::enable_current_exception so that a worker
    // thread can hand it to the main thread. Deliberately not a std::exception: handlers that log and
    // carry on must not swallow a user's cancel.
    struct Interrupted {
        explicit Interrupted(int signal) : signal(signal) {}
        int signal;
    };

    static const uint32_t last_stage = 4;

    static void stage(uint32_t stage, uint32_t steps);
    static void step(const std::string& id, const std::string& text);
    // Neither raises: a failure to reach the record is only logged.
    static void fail(const std::string& text);
    static void finish();

    // The whole body of the handler of SIGINT, SIGHUP and SIGTERM; async-signal-safe.
    static void setTermination(int signal);
    // Throws Interrupted when a recorded signal may stop the run now.
    static void checkTermination();
    // True once per recorded signal that may stop the run now: the caller stops its child or transfer.
    static bool requestCancel();
    static bool wasInterrupted();
    // SIGHUP does not stop the run between markUnsafe and markSafe.
    static void markSafe();
    static void markUnsafe();
    static bool mayStopNow();
    // True between markUnsafe and markSafe.
    static bool inUnsafePhase();
    // No signal recorded and stopping safe, as in a new process. For tests, which run many cases in one.
    static void reset();
    static std::string getCanceledMessage();
};
