#include "installer/driver/SystemExit.h"

#include <boost/exception/exception.hpp>

namespace driver {

void SystemExit::raise(int32_t code) {
    throw boost::enable_current_exception(SystemExit(code));
}

} // namespace driver
