#include "installer/web/ProductIcon.h"

#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/sources/DownloadUrl.h"

std::vector<char> fetchProductIcon(const BuildManager& catalogue, const ProductIconRequest& request) {
    for (const boost::shared_ptr<Release>& release : catalogue.getReleases(true)) {
        const Product& product = *release->prod();
        if (product._id != request.productId)
            continue;
        const std::string& url = request.enabled ? product._active_icon : product._disabled_icon;
        if (url.empty())
            throw error(3, 1, 1, 1) << "A URL for a product icon is not defined.";
        return downloadUrl(url);
    }
    throw error(3, 1, 1, 1) << "There is no product '" << request.productId << "' in the catalogue.";
}
