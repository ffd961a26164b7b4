#include "installer/engine/RpmTransaction.h"

#include "common/packages/Package.h"
#include "common/packages/RPMPackage.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

#include <rpm/rpmcli.h>
#include <rpm/rpmdb.h>
#include <rpm/rpmlib.h>
#include <rpm/rpmlog.h>
#include <rpm/rpmps.h>
#include <rpm/rpmts.h>

#include <cstdlib>
#include <cstring>

namespace {

// rpm's messages while a transaction runs go to the log and are kept for the error report.
class RpmLogCapture {
public:
    explicit RpmLogCapture(std::string& output)
        : previous(rpmlogSetCallback(&RpmLogCapture::take, &output)) {}
    RpmLogCapture(const RpmLogCapture&) = delete;
    RpmLogCapture& operator=(const RpmLogCapture&) = delete;
    ~RpmLogCapture() { rpmlogSetCallback(previous, nullptr); }

private:
    static int take(rpmlogRec record, rpmlogCallbackData data) {
        const char* message = rpmlogRecMessage(record);
        const bool failure = rpmlogRecPriority(record) <= RPMLOG_ERR;
        Log::stream(failure ? 1 : 2, false) << "rpm: " << (message ? message : "");
        if (message)
            *static_cast<std::string*>(data) += message;
        return 0;
    }

    rpmlogCallback previous;
};

error cannotMakeTransaction() {
    return error(error::system, 1, 1, 2) << Messages().getMessage("err_no_librpm");
}

} // namespace

RpmTransaction::RpmTransaction(const std::string& root) {
    try {
        RPMPackage::loadConfig();
    } catch (const error&) {
        throw cannotMakeTransaction();
    }
    ts = rpmtsCreate();
    if (!ts)
        throw cannotMakeTransaction();
    if (rpmtsSetRootDir(ts, root.c_str()) != 0) {
        rpmtsFree(ts);
        throw cannotMakeTransaction() << "\n" << root;
    }
    rpmtsSetNotifyCallback(ts, rpmShowProgress, nullptr);
}

RpmTransaction::~RpmTransaction() {
    rpmtsFree(ts);
}

void RpmTransaction::install(const Package& package) {
    const std::string& path = package.getFileName();
    FD_t fd = Fopen(path.c_str(), "r.ufdio");
    if (!fd || Ferror(fd)) {
        if (fd)
            Fclose(fd);
        throw error(error::packages, 1, 1, 2) << Messages().format("err_pkgopen", path);
    }
    Header header = nullptr;
    rpmRC read = rpmReadPackageFile(ts, fd, path.c_str(), &header);
    Fclose(fd);
    if (read != RPMRC_OK && read != RPMRC_NOKEY && read != RPMRC_NOTTRUSTED) {
        headerFree(header);
        throw error(error::packages, 1, 1, 2) << Messages().format("err_pkgread_rpmts", path);
    }
    files.push_back(path);
    const int added = rpmtsAddInstallElement(ts, header, files.back().c_str(), 1, nullptr);
    headerFree(header);
    if (added != 0)
        throw error(error::packages, 1, 1, 2) << Messages().format("err_pkg_instadd", path);
    Log::stream(3, true) << "RpmTransaction: install " << path;
}

void RpmTransaction::erase(const std::string& name) {
    rpmdbMatchIterator match = rpmtsInitIterator(ts, RPMDBI_NAME, name.c_str(), 0);
    int found = 0;
    while (Header header = rpmdbNextIterator(match)) {
        rpmtsAddEraseElement(ts, header, static_cast<int>(headerGetInstance(header)));
        ++found;
    }
    rpmdbFreeIterator(match);
    Log::stream(3, true) << "RpmTransaction: erase " << name << " (" << found << " installed)";
}

void RpmTransaction::run(const std::string& packages) {
    RpmLogCapture capture(output);
    if (rpmtsCheck(ts) != 0)
        throw cannotMakeTransaction();
    std::string found = problems();
    if (!found.empty()) {
        output += found + "\n";
        throw error(error::dependencies, 1, 1, 2) << Messages().getMessage("err_rpmtrans_check") << "\n"
                                                  << packages << "\n"
                                                  << found;
    }
    rpmtsOrder(ts);
    result = rpmtsRun(ts, nullptr, RPMPROB_FILTER_NONE);
    if (result == 0)
        return;
    found = problems();
    output += found.empty() ? "" : found + "\n";
    throw error(error::packages, 1, 2, 2) << Messages().getMessage("err_rpmtrans_err") << "\n"
                                          << packages << "\n"
                                          << (found.empty() ? output : found);
}

std::string RpmTransaction::problems() const {
    std::string text;
    rpmps set = rpmtsProblems(ts);
    rpmpsi iterator = rpmpsInitIterator(set);
    while (rpmProblem problem = rpmpsiNext(iterator)) {
        char* line = rpmProblemString(problem);
        text += std::string(text.empty() ? "" : "\n") + (line ? line : "");
        free(line);
    }
    rpmpsFreeIterator(iterator);
    rpmpsFree(set);
    return text;
}
