#pragma once

#include <string>

// A scratch directory shared by every input of one fuzzing run and removed when the run ends. The
// first call also silences the log, whose lines would only slow the run down.
const std::string& fuzzScratchDir();
