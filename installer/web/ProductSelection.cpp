#include "installer/web/ProductSelection.h"

std::ostream& operator<<(std::ostream& out, const ProductSelection& selection) {
    out << selection.productId << "-" << selection.releaseId;
    if (!selection.installationType.empty())
        out << "(" << selection.installationType << ", customize=" << (selection.customize ? 1 : 0) << ")";
    return out;
}
