#include "installer/driver/StatusReporter.h"

#include "common/runtime/ProgressShm.h"
#include "installer/driver/Options.h"

#include <tinyxml.h>

namespace {

TiXmlElement progressPart(const char* name, uint32_t number, uint32_t count, const std::string& id,
                          const std::string& title) {
    TiXmlElement part(name);
    part.SetAttribute(name, std::to_string(number));
    part.SetAttribute(std::string(name) + "_n", std::to_string(count));
    part.SetAttribute("id", id);
    part.SetAttribute("title", title);
    return part;
}

void putXml(const Reporter& record, std::ostream& out, const ProgressStatus& status) {
    TiXmlElement progress("progress");
    if (status.finished)
        progress.SetAttribute("finished", "true");
    if (status.failed) {
        progress.SetAttribute("failed", "true");
        TiXmlElement error("error");
        error.InsertEndChild(TiXmlText(ProgressShm::getText(status.error_text)));
        progress.InsertEndChild(error);
    }
    progress.InsertEndChild(progressPart("stage", status.stage, status.stage_n,
                                         ProgressShm::getText(status.stage_id),
                                         ProgressShm::getText(status.stage_title)));
    progress.InsertEndChild(progressPart("step", status.step, status.step_n,
                                         ProgressShm::getText(status.step_id),
                                         ProgressShm::getText(status.step_title)));
    record.printXml(out, &progress);
}

void putText(std::ostream& out, const ProgressStatus& status) {
    out << "\n";
    if (status.finished) {
        if (status.failed)
            out << "Dizadizezeroz failed: " << ProgressShm::getText(status.error_text) << "\n";
        else
            out << "Dizadizezeroz finished. \n";
        out << "\n";
    }
    if (status.stage != 0) {
        out << "Overall progress: " << status.stage << "/" << status.stage_n << ": - "
            << ProgressShm::getText(status.stage_title) << "\n";
        out << "Current step: " << status.step << "/" << status.step_n << ": - "
            << ProgressShm::getText(status.step_title) << "\n";
    }
    out.flush();
}

} // namespace

StatusReporter::StatusReporter(int code, const std::string& message) : Reporter(code, message, "") {}

std::ostream& StatusReporter::put(std::ostream& out) const {
    // The status lock is held from the first read to the last.
    ProgressShm shm;
    const ProgressStatus& status = *shm.data();
    if (Options::enableXmlOutput) {
        putXml(*this, out, status);
    } else {
        Reporter::put(out);
        putText(out, status);
    }
    return out;
}
