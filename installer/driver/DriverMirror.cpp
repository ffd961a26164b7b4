#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/driver/Driver.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/Mirror.h"
#include "installer/sources/SourceUrl.h"

namespace driver {

void runMirror(const Options& options) {
    const std::string& source = options.source.str();
    ReportError::set_source_url(source);
    if (isLocalPath(source))
        throw error(error::user, 1, 1, 2) << Messages().getMessage("err_mirr_src");
    FileFetcher fetcher(source, options.target);
    BuildManager catalogue(fetcher, locationBaseName(source));
    Mirror mirror(fetcher, options.mirrorOs);
    catalogue.accept(mirror);
    mirror.update();
}

} // namespace driver
