#include "installer/driver/ProductsReporter.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/driver/Options.h"

#include <tinyxml.h>

#include <set>
#include <vector>

namespace {

std::vector<boost::shared_ptr<Product>> productsOf(const std::vector<boost::shared_ptr<Release>>& releases) {
    std::vector<boost::shared_ptr<Product>> products;
    std::set<std::string> seen;
    for (const boost::shared_ptr<Release>& release : releases)
        if (seen.insert(release->prod()->_id).second)
            products.push_back(release->prod());
    return products;
}

} // namespace

ProductsReporter::ProductsReporter(BuildManager* catalogue) : Reporter(ok, ""), catalogue(catalogue) {}

std::ostream& ProductsReporter::put(std::ostream& out) const {
    const std::vector<boost::shared_ptr<Release>> releases = catalogue->getReleases(true);
    if (releases.empty())
        return Reporter(failed, Messages().getMessage("releases_reporter_list_empty"), "").put(out);
    const bool upgrade = Options::instance().verb == Options::verb_upgrade;
    if (!Options::enableXmlOutput) {
        out << padded("--- prod_id", 12) << " " << padded("(description) ---", 40) << "\n";
        for (const boost::shared_ptr<Product>& product : productsOf(releases))
            out << padded(product->_id, 12) << " " << padded("(" + product->_name + ")", 40) << "\n";
        out.flush();
    } else if (!upgrade) {
        TiXmlElement products("products");
        for (const boost::shared_ptr<Product>& product : productsOf(releases)) {
            TiXmlElement element("product");
            element.SetAttribute("id", product->_id);
            element.SetAttribute("description", product->_name);
            products.InsertEndChild(element);
        }
        printXml(out, &products);
    }
    if (upgrade)
        throw error(error::user, 1, 1, 2) << Messages().getMessage("err_cmd_upgrade_no_smth")
                                          << Messages().getMessage("err_cmd_upgrade_no_product");
    return out;
}
