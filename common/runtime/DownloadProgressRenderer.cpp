#include "common/runtime/DownloadProgressRenderer.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

#include <exception>
#include <utility>

namespace {

// Support looks reports up by this unit and these lines, so they stay fixed.
const char* const unit = "installer/ProgressValueRender";
const int line_no_file_counter_in_scope = 14;
const int line_no_file_counter_to_draw = 57;

} // namespace

std::shared_ptr<DownloadProgressRenderer> DownloadProgressRenderer::create() {
    std::shared_ptr<DownloadProgressRenderer> renderer(new DownloadProgressRenderer);
    renderer->files = std::make_shared<ProgressValue<unsigned long>>();
    renderer->files->addObserver(renderer);
    return renderer;
}

void DownloadProgressRenderer::setFilesProgress(const counter_ptr& shared_files) {
    if (!shared_files)
        throw internal_error(unit, __LINE__) << "\nA download renderer needs a file counter.";
    files = shared_files;
    files->addObserver(shared_from_this());
    render("");
}

void DownloadProgressRenderer::setFileProgress(const counter_ptr& file_bytes,
                                               const counter_ptr& file_retries) {
    if (!file_bytes || !file_retries)
        throw internal_error(unit, __LINE__) << "\nA download renderer needs a byte and a retry counter.";
    bytes = file_bytes;
    retries = file_retries;
    retries->addObserver(shared_from_this());
    bytes->addObserver(shared_from_this());
    render("");
}

void DownloadProgressRenderer::update() {
    render("");
}

void DownloadProgressRenderer::render(const std::string& final_text) {
    if (!files)
        throw internal_error(unit, line_no_file_counter_to_draw);
    const int previous_kind = line_kind;
    Messages messages;

    std::string line = messages.getMessage("download_file");
    if (files->total != 0)
        line += messages.format("download_total_progress", files->value, files->total);
    line += files->text;
    if (retries && retries->value != 0)
        line += messages.format("download_retry_progress", retries->value, retries->total);
    line += ": ";

    if (!final_text.empty()) {
        line += final_text;
        line_kind = kind_final;
    } else if (retries && !retries->text.empty()) {
        line += retries->text;
        line_kind = kind_retry;
    } else if (!bytes) {
        return;
    } else {
        double fraction = 0;
        if (bytes->value != 0 && bytes->total != 0)
            fraction = static_cast<double>(bytes->value) * 100 / static_cast<double>(bytes->total);
        const unsigned long percent = static_cast<unsigned long>(fraction);
        if (percent != 100) {
            line += std::to_string(percent) + "%";
            line_kind = kind_percentage;
        } else {
            line += "100% " + messages.getMessage("download_done");
            line_kind = kind_final;
        }
    }

    if (!quiet)
        Log::stream(0, Log::progress_line) << line;
    // A console without progress lines still sees each change of kind.
    if (line_kind != previous_kind)
        Log::stream(Log::consoleLocaleOk() || quiet ? 1 : 0, Log::newline) << line;
}

void DownloadProgressRenderer::finish(bool completed) {
    if (completed)
        render(Messages().getMessage("download_completed"));
    if (!quiet) {
        if (files->total == 0 && Log::consoleLocaleOk()) {
            Log::stream(0, Log::newline);
        } else if (line_kind == kind_final && files->total != 0 && files->total == files->value) {
            Log::stream(0, Log::progress_line_logged) << Messages().getMessage("download_all_done");
            Log::stream(0, Log::newline);
        }
    }
    line_kind = kind_none;
}

DownloadProgressRenderer::FileScope::FileScope(std::shared_ptr<DownloadProgressRenderer> owner,
                                               const std::string& file_name)
    : renderer(std::move(owner)) {
    if (!renderer || !renderer->files)
        throw internal_error(unit, line_no_file_counter_in_scope);
    renderer->files->step(file_name);
}

DownloadProgressRenderer::FileScope::~FileScope() {
    // Ending the line must not turn an unwinding download into a terminate.
    try {
        renderer->finish(completed);
    } catch (const error& e) {
        Log::stream(1, Log::newline) << e.getText();
    } catch (const std::exception& e) {
        Log::stream(1, Log::newline) << e.what();
    }
    renderer->bytes.reset();
    renderer->retries.reset();
}
