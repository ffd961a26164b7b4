#pragma once

// The helper scripts that the yum configurator writes out, from installer/engine/helpers.
extern const char* const yumHelperScript;
extern const char* const dnfHelperScript;
