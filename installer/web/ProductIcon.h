#pragma once

#include "installer/web/ProductIconRequest.h"

#include <vector>

class BuildManager;

// The bytes of the icon a get_product_icon request names: the active or the disabled icon of the
// product of the first release, in catalogue order, with that product id. The transfer keeps the
// downloader's time-outs and size cap, so a slow or huge icon cannot hold the back end.
std::vector<char> fetchProductIcon(const BuildManager& catalogue, const ProductIconRequest& request);
