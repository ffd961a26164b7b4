#include "common/runtime/Progress.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/ProgressShm.h"
#include "common/runtime/error.h"

#include <boost/exception/exception.hpp>

#include <atomic>
#include <csignal>
#include <exception>
#include <initializer_list>

namespace {

enum cancel_states { cancel_none = 0, cancel_signalled = 1, cancel_acknowledged = 2, cancel_thrown = 3 };

// Written by the signal handler, so lock-free.
std::atomic<int> cancel_state(cancel_none);
std::atomic<int> term_signal(0);
std::atomic<bool> stop_safe(true);
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free integers");

struct StageInfo {
    const char* id;
    const char* title_key;
};

const StageInfo stages[Progress::last_stage + 1] = {
    {"init", "progress_stage_init"},     {"prep", "progress_stage_prep"},
    {"resolv", "progress_stage_resolv"}, {"download", "progress_stage_download"},
    {"inst", "install_start"},
};

// Moves the state from one of the `from` values to `to`; false when it holds none of them.
bool moveState(std::initializer_list<int> from, int to) {
    int current = cancel_state.load();
    for (;;) {
        bool allowed = false;
        for (int value : from)
            allowed = allowed || current == value;
        if (!allowed)
            return false;
        if (cancel_state.compare_exchange_weak(current, to))
            return true;
    }
}

} // namespace

void Progress::stage(uint32_t stage, uint32_t steps) {
    ProgressShm shm;
    ProgressStatus* record = shm.data();
    record->stage = stage;
    record->stage_n = last_stage;
    record->finished = 0;
    record->failed = 0;
    record->step = 0;
    record->step_n = steps;
    ProgressShm::setText(record->step_id, "");
    ProgressShm::setText(record->step_title, "");
    if (stage <= last_stage) {
        ProgressShm::setText(record->stage_id, stages[stage].id);
        ProgressShm::setText(record->stage_title, Messages().getMessage(stages[stage].title_key));
    }
    Log::stream(3, true) << "Progress::stage: --- " << record->stage << "/" << record->stage_n << " ("
                         << record->step_n << " steps) " << ProgressShm::getText(record->stage_title);
}

void Progress::step(const std::string& id, const std::string& text) {
    ProgressShm shm;
    ProgressStatus* record = shm.data();
    record->step += 1;
    if (record->step_n < record->step)
        record->step_n = record->step;
    ProgressShm::setText(record->step_id, id);
    ProgressShm::setText(record->step_title, text);
    Log::stream(3, true) << "Progress::step: " << record->step << "/" << record->step_n << " " << text;
}

void Progress::fail(const std::string& text) {
    try {
        ProgressShm shm;
        ProgressStatus* record = shm.data();
        record->finished = 1;
        record->failed = 1;
        ProgressShm::setText(record->error_text, text);
    } catch (...) {
        Log::stream(2, true) << "Progress::fail() was interrupted by exception";
    }
}

void Progress::finish() {
    try {
        ProgressShm shm;
        ProgressStatus* record = shm.data();
        record->finished = 1;
        record->failed = 0;
    } catch (...) {
        Log::stream(2, true) << "Progress::finish() was interrupted by exception";
    }
}

void Progress::setTermination(int signal) {
    // A signal that arrives while the cancel is already unwinding the stack would only cut it short.
    if (cancel_state.load() == cancel_thrown && std::uncaught_exceptions() > 0)
        return;
    term_signal.store(signal);
    moveState({cancel_none, cancel_thrown}, cancel_signalled);
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

bool Progress::mayStopNow() {
    const int signal = term_signal.load();
    return (signal != 0 && signal != SIGHUP) || stop_safe.load();
}

bool Progress::requestCancel() {
    if (cancel_state.load() != cancel_signalled || !mayStopNow())
        return false;
    return moveState({cancel_signalled}, cancel_acknowledged);
}

void Progress::checkTermination() {
    const int state = cancel_state.load();
    if ((state != cancel_signalled && state != cancel_acknowledged) || !mayStopNow())
        return;
    if (!moveState({cancel_signalled, cancel_acknowledged}, cancel_thrown))
        return;
    const int signal = term_signal.load();
    Messages messages;
    {
        Log::stream text(2, true);
        text << messages.getMessage("Dizadizezeroz");
        if (signal != 0)
            text << " process has received termination signal and will stop working (signal number " << signal
                 << ").";
        else
            text << " process has received termination signal and will stop working.";
    }
    fail(messages.getMessage("user_canceled"));
    throw boost::enable_current_exception(Interrupted(signal));
}

bool Progress::wasInterrupted() {
    return cancel_state.load() == cancel_thrown;
}

bool Progress::inUnsafePhase() {
    return !stop_safe.load();
}

void Progress::markSafe() {
    stop_safe.store(true);
    Log::stream(3, true) << "DEBUG: Mark cancel/stop operation as safe";
}

void Progress::markUnsafe() {
    if (!stop_safe.load())
        throw internal_error("common/Progress", 328);
    stop_safe.store(false);
    Log::stream(3, true) << "DEBUG: Mark cancel/stop operation as unsafe";
}

void Progress::reset() {
    cancel_state.store(cancel_none);
    term_signal.store(0);
    stop_safe.store(true);
}

std::string Progress::getCanceledMessage() {
    return Messages().getMessage("user_canceled");
}
