#include "installer/driver/Options.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/util.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"

#include <boost/algorithm/string/join.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/program_options/cmdline.hpp>
#include <boost/token_functions.hpp>

#include <set>

namespace {

const std::string log_prefix = "Options::interpretSelectors(): ";

error userError() {
    return error(error::user, 1, 1, 2);
}

// What the catalogue's main release list offers, or the selectors of each kind.
struct selector_sets_t {
    std::set<std::string> productIds;
    std::set<std::string> tiers;
    std::set<std::string> releaseIds;
    std::set<std::string> versions;
};

selector_sets_t catalogueSets(const BuildManager& catalogue) {
    selector_sets_t sets;
    for (const auto& release : catalogue._releases) {
        sets.productIds.insert(release->_product->_id);
        std::vector<std::string> tiers;
        boost::algorithm::split(tiers, release->_tags.toString(), [](char c) { return c == ','; });
        sets.tiers.insert(tiers.begin(), tiers.end());
        sets.releaseIds.insert(release->_id);
        sets.versions.insert(release->_version.toString());
    }
    return sets;
}

// Each value as a blank and the value in single quotes.
std::string quoted(const std::set<std::string>& values) {
    std::string text;
    for (const std::string& value : values)
        text += " '" + value + "'";
    return text;
}

selector_sets_t classify(const std::vector<std::string>& selectors, const selector_sets_t& valid) {
    selector_sets_t found;
    for (const std::string& selector : selectors) {
        int matches = 0;
        if (valid.productIds.count(selector)) {
            found.productIds.insert(selector);
            ++matches;
        }
        if (valid.tiers.count(selector) || selector == "all") {
            found.tiers.insert(selector);
            ++matches;
        }
        if (valid.releaseIds.count(selector)) {
            found.releaseIds.insert(selector);
            ++matches;
        }
        if (valid.versions.count(selector)) {
            found.versions.insert(selector);
            ++matches;
        }
        if (matches != 1)
            throw userError() << Messages().format(matches == 0 ? "err_opt_selector_no_match"
                                                                : "err_opt_selector_ambigous",
                                                   selector)
                              << Messages().getMessage("err_opt_selector_use_list");
    }
    return found;
}

void refuseSeveral(const std::set<std::string>& values, const char* key) {
    if (values.size() > 1)
        throw userError() << Messages().format(key, boost::algorithm::join(values, ", "))
                          << Messages().getMessage("err_opt_selector_only_one");
}

std::string single(const std::set<std::string>& values) {
    return values.empty() ? std::string() : *values.begin();
}

} // namespace

void Options::interpretSelectors(const BuildManager& catalogue) {
    const selector_sets_t valid = catalogueSets(catalogue);
    Log::stream(3, true) << log_prefix + "valid product ids:" + quoted(valid.productIds);
    Log::stream(3, true) << log_prefix + "valid tags (tiers):" + quoted(valid.tiers);
    Log::stream(3, true) << log_prefix + "valid release ids:" + quoted(valid.releaseIds);
    Log::stream(3, true) << log_prefix + "valid versions:" + quoted(valid.versions);
    // The option style has neither selectors nor a command word.
    if (commandWord.empty())
        return;

    const selector_sets_t found = classify(selectors, valid);
    // One text each: the log writes an empty piece as "~empty".
    Log::stream(3, true) << log_prefix + "classified selectors: " + "prod_ids = (" +
                                quoted(found.productIds) + "), tags = (" + quoted(found.tiers) + "), " +
                                "rel_ids = (" + quoted(found.releaseIds) + "), versions = (" +
                                quoted(found.versions) + ")";

    refuseSeveral(found.productIds, "err_opt_selector_multiple_prod_ids");
    refuseSeveral(found.releaseIds, "err_opt_selector_multiple_rel_ids");
    refuseSeveral(found.versions, "err_opt_selector_multiple_versions");
    if (!found.releaseIds.empty() && !found.versions.empty())
        throw userError() << Messages().format("err_opt_selector_rel_id_and_version",
                                               single(found.releaseIds), single(found.versions))
                          << Messages().getMessage("err_opt_selector_only_one");

    productIdSelector = single(found.productIds);
    releaseIdSelector = single(found.releaseIds);
    versionSelector = single(found.versions);
    Log::stream(3, true) << log_prefix + "prod_id_selector=" + productIdSelector + ", " +
                                "rel_id_selector=" + releaseIdSelector + ", " +
                                "version_selector=" + versionSelector;

    if (found.tiers.count("all"))
        showAllVersions();
    else if (!found.tiers.empty())
        setTierList(std::vector<std::string>(found.tiers.begin(), found.tiers.end()));

    const bool tier_selected = !found.tiers.empty();
    if (commandWord == "list")
        applyListRule(catalogue, tier_selected);
    else if (commandWord == "install")
        applyInstallRule(catalogue);
    else if (commandWord == "upgrade")
        applyUpgradeRule(catalogue, tier_selected);
    else if (commandWord == "update")
        applyUpdateRule(catalogue, tier_selected);
    else if (commandWord == "add" || commandWord == "remove")
        applyAddRemoveRule(catalogue, tier_selected);

    applyTierDefaults();
    check();
}

void Options::resolveVersionSelector(const BuildManager& catalogue) {
    if (versionSelector.empty())
        return;
    if (productIdSelector.empty())
        throw userError() << Messages().format("err_opt_version_requires_prod_id", versionSelector);
    const auto release = catalogue.findReleaseByVersion(productIdSelector, versionSelector);
    if (!release)
        throw userError() << Messages().format("err_opt_no_rel_for_version_in_prod_id", versionSelector,
                                               productIdSelector);
    releaseIdSelector = release->_id;
}

std::vector<std::string> Options::collectListOption(const std::string& name) const {
    std::vector<std::string> pieces;
    const auto found = commandLineValues.find(name);
    if (found == commandLineValues.end())
        return pieces;
    for (const std::string& value : found->second.as<std::vector<std::string>>()) {
        std::vector<std::string> split;
        try {
            split = util::split_escaped_list(value);
        } catch (const boost::escaped_list_error&) {
            // A bad escape is a command-line mistake like any other wrong value.
            boost::program_options::invalid_option_value invalid(value);
            invalid.set_option_name(name);
            invalid.set_prefix(boost::program_options::command_line_style::allow_long);
            throw invalid;
        }
        pieces.insert(pieces.end(), split.begin(), split.end());
    }
    return pieces;
}

// ---------------------------------------------------------------------------------------------------------
// The rules of the commands

void Options::applyListRule(const BuildManager& catalogue, bool tierSelected) {
    const std::string& word = commandWord;
    if (!releaseIdSelector.empty() || !versionSelector.empty()) {
        resolveVersionSelector(catalogue);
        if (!releaseIdSelector.empty()) {
            addReleaseSelector(ReleaseSelector::by_id, productIdSelector, releaseIdSelector);
            keptReleaseIds.push_back(releaseIdSelector);
        }
        setCommand(word, isGiven("presets") ? cmd_show_installation_types : cmd_show_components);
        return;
    }
    if (isGiven("presets") || isGiven("components") || isGiven("options"))
        throw userError() << Messages().getMessage("err_opt_list_requires_exact_release");
    if (tierSelected && productIdSelector.empty())
        productIdSelector = defaultProductId;
    if (productIdSelector.empty()) {
        setCommand(word, cmd_show_products);
        return;
    }
    setCommand(word, cmd_show_releases);
    addReleaseSelector(ReleaseSelector::current, productIdSelector, "");
}

void Options::applyInstallRule(const BuildManager& catalogue) {
    const std::string& word = commandWord;
    resolveVersionSelector(catalogue);
    // A release chosen by its id belongs to its own product, not to the default one.
    if (productIdSelector.empty() && !releaseIdSelector.empty())
        productIdSelector = catalogue.findRelease(releaseIdSelector)->_product->_id;
    if (productIdSelector.empty())
        productIdSelector = defaultProductId;
    const std::string& product = productIdSelector;

    if (!releaseIdSelector.empty()) {
        addReleaseSelector(ReleaseSelector::by_id, product, releaseIdSelector);
        keptReleaseIds.push_back(releaseIdSelector);
    } else {
        addReleaseSelector(ReleaseSelector::latest, product, "");
    }

    if (isGiven("preset")) {
        setProductMode(product, word, ProductRequest::installation_type);
        ProductRequest& request = productRequests[product];
        request.installationType = commandLineValues["preset"].as<std::string>();
        request.installComponents = collectListOption("with");
        request.removeComponents = collectListOption("without");
    } else if (isGiven("components")) {
        setProductMode(product, word, ProductRequest::explicit_components);
        productRequests[product].installComponents = collectListOption("components");
    } else {
        setProductMode(product, word, ProductRequest::installation_type);
        productRequests[product].installationType = "Custom";
    }

    if (isGiven("options"))
        for (const std::string& setting : commandLineValues["options"].as<std::vector<std::string>>())
            setComponentSetting(product, setting);
}

void Options::applyUpgradeRule(const BuildManager& catalogue, bool tierSelected) {
    const std::string& word = commandWord;
    const std::vector<std::string> installed = catalogue.getInstalledProducts();
    if (productIdSelector.empty() && installed.size() == 1)
        productIdSelector = installed.front();

    boost::shared_ptr<Release> target_release;
    if (!releaseIdSelector.empty()) {
        target_release = catalogue.findRelease(releaseIdSelector);
        if (!target_release)
            throw userError() << Messages().format("err_opt_no_rel_id", releaseIdSelector);
    } else if (!versionSelector.empty() && !productIdSelector.empty()) {
        target_release = catalogue.findReleaseByVersion(productIdSelector, versionSelector);
        if (!target_release)
            throw userError() << Messages().format("err_opt_no_rel_for_version_in_prod_id", versionSelector,
                                                   productIdSelector);
    }

    if (target_release) {
        const std::string& product = target_release->_product->_id;
        setCommand(word, cmd_change);
        setProductMode(product, word, ProductRequest::upgrade_installed);
        addReleaseSelector(ReleaseSelector::by_id, product, target_release->_id);
        keptReleaseIds.push_back(target_release->_id);
    } else if (tierSelected && !productIdSelector.empty()) {
        setCommand(word, cmd_change);
        setProductMode(productIdSelector, word, ProductRequest::upgrade_installed);
        addReleaseSelector(ReleaseSelector::latest, productIdSelector, "");
    } else if (!productIdSelector.empty()) {
        setCommand(word, cmd_show_releases);
        addReleaseSelector(ReleaseSelector::current, productIdSelector, "");
    } else {
        setCommand(word, cmd_show_products);
    }

    if (isGiven("dry-run") && command == cmd_change)
        setCommand(word, cmd_show_packages);
}

void Options::applyUpdateRule(const BuildManager& catalogue, bool tierSelected) {
    const std::string& word = commandWord;
    const bool panel_only = isGiven("panel-only");
    if (panel_only) {
        if (!productIdSelector.empty() && productIdSelector != defaultProductId)
            throw userError() << Messages().format("err_opt_panel_only_requires_moxel", defaultProductId,
                                                   productIdSelector);
        productIdSelector = defaultProductId;
    }
    if (!releaseIdSelector.empty() || !versionSelector.empty() || tierSelected)
        throw userError() << Messages().format("err_opt_only_prod_id_selector", word);

    std::vector<std::string> products = catalogue.getInstalledProducts();
    if (productIdSelector.empty() && products.empty())
        throw userError() << Messages().getMessage("err_opt_no_installed_prods");
    if (productIdSelector.empty() && products.size() == 1)
        productIdSelector = products.front();
    if (!productIdSelector.empty())
        products = {productIdSelector};

    for (const std::string& product : products) {
        setProductMode(product, word, ProductRequest::upgrade_installed);
        addReleaseSelector(ReleaseSelector::current, product, "");
        if (panel_only)
            productRequests[product].componentClasses.push_back("aspect=panel");
    }
}

void Options::applyAddRemoveRule(const BuildManager& catalogue, bool tierSelected) {
    const std::string& word = commandWord;
    if (!releaseIdSelector.empty() || !versionSelector.empty() || tierSelected)
        throw userError() << Messages().format("err_opt_only_prod_id_selector", word);

    if (productIdSelector.empty()) {
        const std::vector<std::string> installed = catalogue.getInstalledProducts();
        if (installed.empty())
            throw userError() << Messages().getMessage("err_opt_no_installed_prods");
        if (installed.size() > 1)
            throw userError() << Messages().format("err_opt_need_prod_id",
                                                   boost::algorithm::join(installed, ", "));
        productIdSelector = installed.front();
    }
    const std::string& product = productIdSelector;

    setProductMode(product, word, ProductRequest::explicit_components);
    addReleaseSelector(ReleaseSelector::current, product, "");
    ProductRequest& request = productRequests[product];
    (word == "add" ? request.installComponents : request.removeComponents) = collectListOption("components");
}
