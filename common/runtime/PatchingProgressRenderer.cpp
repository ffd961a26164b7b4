#include "common/runtime/PatchingProgressRenderer.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"

#include <boost/format.hpp>

namespace {

// The counter's text comes from a catalogue; one that does not take two values is shown as it stands.
std::string formatCounter(const std::string& text, unsigned long done, unsigned long total) {
    try {
        return (boost::format(text) % done % total).str();
    } catch (const boost::io::format_error&) {
        return text + " " + std::to_string(done) + " " + std::to_string(total);
    }
}

} // namespace

std::shared_ptr<PatchingProgressRenderer> PatchingProgressRenderer::create() {
    return std::shared_ptr<PatchingProgressRenderer>(new PatchingProgressRenderer);
}

void PatchingProgressRenderer::setProgress(const counter_ptr& patch_counter) {
    counter = patch_counter;
    if (counter)
        counter->addObserver(shared_from_this());
    update();
}

void PatchingProgressRenderer::update() {
    if (!counter)
        return;
    if (!counter->text.empty())
        Log::stream(0, Log::progress_line_logged)
            << formatCounter(counter->text, counter->value, counter->total);
    if (counter->total != 0 && counter->total == counter->value) {
        Log::stream(0, Log::progress_line_logged) << Messages().getMessage("mu_all_done");
        Log::stream(0, Log::newline);
    }
}
