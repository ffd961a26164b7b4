#include "installer/catalogue/Addon.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"

Addon::Addon(const std::string& id, const std::string& name, const std::string& version, bool lazy)
    : _id(id), _name(name), _version(version), _lazy(lazy) {}

void Addon::addCompatible(const std::string& prod_id, const std::string& from, const std::string& to) {
    Log::stream(3, true) << "DEBUG: Addon::addCompatible: prod_id=" << prod_id << ", from=" << from
                         << ", to=" << to;
    try {
        _compatible.push_back(compatible_t{prod_id, Version(from), Version(to)});
    } catch (error& e) {
        e.addLine(0, 0, 0, 0) << "Wrong addon's compat info: " << prod_id << "  from " << from << " to "
                              << to;
        throw;
    }
}

bool Addon::applicableTo(const Release& release) const {
    if (_compatible.empty())
        throw internal_error("installer/Addon", 56);
    for (const compatible_t& window : _compatible) {
        if (window._prod_id != release._product->_id)
            continue;
        Log::stream(3, true) << "Addon::applicableTo: release " << release._version
                             << ", addon applicable from " << window._from << " to " << window._to;
        if (release._version < window._from) {
            Log::stream(3, true) << "DEBUG: Addon::applicableTo: version too low for " << *this;
        } else if (release._version > window._to) {
            Log::stream(3, true) << "DEBUG: Addon::applicableTo: version too high for " << *this;
        } else {
            Log::stream(3, true) << "DEBUG: Addon::applicableTo: merge addon " << *this
                                 << " because it fit for release " << release;
            return true;
        }
    }
    return false;
}

std::ostream& operator<<(std::ostream& out, const Addon& addon) {
    return out << addon._id;
}
