#pragma once

#include "installer/console/InstallationType.h"

#include <boost/shared_ptr.hpp>

#include <string>
#include <vector>

class Build;

// The installation types of every product whose releases were loaded, in load order. Entries and
// types are only ever added.
class InstTypes {
public:
    class Product {
    public:
        // The first type with that name or alias, ignoring case. An empty or unknown name raises.
        InstallationType& getType(const std::string& name);
        const InstallationType& getType(const std::string& name) const;

        std::string productId;
        std::string productName;
        // In the order they were added; the first is the product's default choice.
        std::vector<InstallationType> types;
    };
    typedef std::vector<Product> products_t;

    // Files a copy of the type under the product of the build's release. A type without names, or a
    // declared type without components, is refused and nothing changes.
    void addType(const boost::shared_ptr<Build>& build, const InstallationType& type);

    products_t::iterator findProduct(const std::string& productId);
    products_t::const_iterator findProduct(const std::string& productId) const;
    // An unknown product id raises.
    Product& getProduct(const std::string& productId);
    const Product& getProduct(const std::string& productId) const;

    products_t products;
};
