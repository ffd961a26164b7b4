#include "installer/driver/InstallationTypesReporter.h"

#include "common/runtime/error.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/Options.h"

#include <tinyxml.h>

InstallationTypesReporter::InstallationTypesReporter(ComponentManager* components)
    : Reporter(ok, ""), components(components) {}

std::ostream& InstallationTypesReporter::put(std::ostream& out) const {
    const InstTypes::products_t& products = components->products;
    if (products.empty())
        throw error(error::user, 1, 1, 1)
            << "Installation types may be shown only for not yet installed products.\n";
    if (!Options::enableXmlOutput) {
        for (const InstTypes::Product& product : products) {
            out << "Installation types for " << product.productName << ":\n";
            for (const InstallationType& type : product.types)
                out << "    " << type.names.front() << " - " << type.description << "\n";
        }
        out.flush();
        return out;
    }
    TiXmlElement list("products");
    for (const InstTypes::Product& product : products) {
        TiXmlElement element("product");
        element.SetAttribute("id", product.productId);
        element.SetAttribute("name", product.productName);
        TiXmlElement types("installation_types");
        for (const InstallationType& type : product.types) {
            TiXmlElement entry("type");
            entry.SetAttribute("name", type.names.front());
            entry.SetAttribute("description", type.description);
            types.InsertEndChild(entry);
        }
        element.InsertEndChild(types);
        list.InsertEndChild(element);
    }
    printXml(out, &list);
    return out;
}
