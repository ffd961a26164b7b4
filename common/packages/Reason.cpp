#include "common/packages/Reason.h"

#include "common/packages/Dependency.h"
#include "common/packages/Package.h"

std::ostream& operator<<(std::ostream& out, const Reason& reason) {
    return reason.print(out);
}

std::ostream& ReasonUnresolved::print(std::ostream& out) const {
    out << "dependency '";
    if (dependency)
        out << *dependency;
    return out << "' is unresolved";
}

std::ostream& ReasonClash::print(std::ostream& out) const {
    return out << *first << " is conflicting with newly installed " << *second;
}
