#include "installer/driver/Options.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "installer/web/SelfSignedCertificate.h"

namespace {

[[noreturn]] void refuse(const char* key) {
    throw error(error::user, 1, 1, 2) << Messages().getMessage(key);
}

} // namespace

void Options::check() {
    if (showOptions && command != cmd_show_components)
        refuse("err_opt_show_options_wo_components");
    if (runMode == mode_web) {
        if (!sslCert.empty() && !fileops::exists(sslCert))
            throw error(error::user, 2, 1, 2) << Messages().format("err_misfile", sslCert);
        if (sslCert.empty() && !withoutSsl) {
            try {
                sslCert = SelfSignedCertificate().getPath();
            } catch (error& e) {
                e.addLine(error::user, 2, 1, 2) << Messages().getMessage("err_ssl_strong_recomended");
                throw;
            }
        }
    }
    if (reinstallPatch && skipPatch)
        refuse("err_opt_repatch_skip_patch_conflict");
    if (interactiveUninstall && !removeEverything)
        refuse("err_opt_int_uninst_wo_rm_everything");
}
