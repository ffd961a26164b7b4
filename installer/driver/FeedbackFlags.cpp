#include "installer/driver/FeedbackFlags.h"

#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/util.h"
#include "installer/driver/Options.h"

#include <cstdio>

namespace {

const char* const feedback_dir = "/var/cordavine";
const char* const enabled_marker = "/var/cordavine/feedback-enabled";
const char* const disabled_marker = "/var/cordavine/feedback-disabled";
const char* const product_file = "/var/cordavine/feedback-product";
const char* const group_id_file = "/var/cordavine/feedback-group-id";

bool feedback_required = false;
bool command_line_mode = false;

void writeMarker(const std::string& path) {
    fileops::write_file(path, std::string(), 0600);
}

void writeText(const std::string& path, const std::string& text) {
    fileops::create_directory(fileops::dirname(path));
    fileops::write_file(path, text, 0644);
}

} // namespace

int feedbackState() {
    if (fileops::exists(disabled_marker))
        return feedback_disabled;
    if (fileops::exists(enabled_marker))
        return feedback_enabled;
    return feedback_unknown;
}

bool isFeedbackUnknown() {
    return feedbackState() == feedback_unknown;
}

bool isFeedbackEnabled() {
    return feedbackState() == feedback_enabled;
}

void setFeedbackEnabled(bool on) {
    fileops::create_directory(feedback_dir);
    if (on) {
        fileops::remove(disabled_marker);
        writeMarker(enabled_marker);
    } else {
        writeMarker(disabled_marker);
        fileops::remove(enabled_marker);
    }
}

void setFeedbackRequired(bool required) {
    feedback_required = required;
}

bool isFeedbackRequired() {
    return feedback_required;
}

void setCommandLineMode() {
    command_line_mode = true;
}

bool isFeedbackReportWanted() {
    if (!feedback_required)
        return false;
    switch (feedbackState()) {
    case feedback_unknown:
        return true;
    case feedback_enabled:
        return command_line_mode;
    default:
        return false;
    }
}

void writeFeedbackProduct(const std::string& text) {
    writeText(product_file, text);
}

void writeFeedbackGroupId(const std::string& text) {
    writeText(group_id_file, text);
}

std::string feedbackProduct() {
    std::string content;
    try {
        fileops::File in(product_file, "r");
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof(buffer), in.file)) > 0)
            content.append(buffer, got);
        if (std::ferror(in.file))
            content.clear();
    } catch (const error&) {
        // Missing or unreadable: no product recorded.
    }
    content = util::trim(content);
    return content.empty() ? std::string(Options::defaultProductId) : content;
}
