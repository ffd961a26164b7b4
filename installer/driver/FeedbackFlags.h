#pragma once

#include <string>

// The administrator's consent to automatic problem reports, kept in marker files under
// /var/cordavine/ across runs, with the two texts that tag the reports.

enum feedback_state_t { feedback_unknown = 0, feedback_disabled = 1, feedback_enabled = 2 };

// The disabled marker wins over the enabled one.
int feedbackState();
bool isFeedbackUnknown();
bool isFeedbackEnabled();
// Leaves exactly one of the two markers behind.
void setFeedbackEnabled(bool on);

// Whether a loaded build description asks for feedback.
void setFeedbackRequired(bool required);
bool isFeedbackRequired();
// Set once the command-line run mode starts; never reset.
void setCommandLineMode();

// Whether a failed run sends an error report.
bool isFeedbackReportWanted();

// Replace the file's content; no line end is added.
void writeFeedbackProduct(const std::string& text);
void writeFeedbackGroupId(const std::string& text);
// The product that tags reports; the default product id when none is recorded.
std::string feedbackProduct();
