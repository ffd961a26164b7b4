#include "common/packages/ExtCatalogPackage.h"

ExtCatalogPackage::~ExtCatalogPackage() = default;
