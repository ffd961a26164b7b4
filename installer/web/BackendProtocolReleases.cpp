#include "installer/web/BackendProtocol.h"

#include "common/runtime/Log.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/ProductsProgress.h"
#include "installer/catalogue/Release.h"
#include "installer/console/BestWithInfo.h"
#include "installer/console/InstTypes.h"
#include "installer/driver/FeedbackFlags.h"
#include "installer/driver/Options.h"
#include "installer/sources/SourceUrl.h"

#include <string>

namespace {

const char* const unit = "installer/BackendProtocol";
// Display tags are shown per interface; this is the web interface's code.
constexpr int web_interface = 2;

bool declaresUninstallSupport(const Release& release) {
    for (const boost::shared_ptr<Build>& build : release._builds)
        if (build->_build_description && build->_build_description->build.uninstallSupport)
            return true;
    return false;
}

// Appends a "product" and returns its "releases".
TiXmlElement* appendProduct(TiXmlElement& products, const BuildManager& catalogue, const Product& product) {
    TiXmlElement* element = tinybind::appendElement(products, "product");
    element->SetAttribute("name", product._name);
    element->SetAttribute("id", product._id);
    const std::string installed = catalogue.getInstalledProductVersion(product._id);
    if (!installed.empty())
        element->SetAttribute("current_version", installed);
    if (catalogue.isProductSelected(product._id))
        element->SetAttribute("selected", "true");
    if (!product._product_site.empty())
        tinybind::appendElement(*element, "product_site")->SetAttribute("src", product._product_site);
    return tinybind::appendElement(*element, "releases");
}

std::string progressStatus(int state) {
    switch (state) {
    case ProductsProgress::state_not_started:
        return "waiting";
    case ProductsProgress::state_started:
        return "started";
    case ProductsProgress::state_in_progress:
        return "in_progress";
    // The installation reports this state when a release is done.
    case 3:
        return "completed";
    case ProductsProgress::failed:
        return "failed";
    default:
        Log::stream(1, true) << "ERROR: Internal error: product progress state=" << state;
        return "";
    }
}

TiXmlElement* appendProgressProduct(TiXmlElement& products, const Release& release) {
    TiXmlElement* product = tinybind::appendElement(products, "product");
    product->SetAttribute("id", release.prod()->_id);
    product->SetAttribute("name", release.prod()->_name);
    product->SetAttribute("action", release.getActionName());
    product->SetAttribute("version", release._version.version);
    product->SetAttribute("codename", release._codename);
    return product;
}

void appendProgress(TiXmlElement& product, const std::string& status, int percentage) {
    TiXmlElement* progress = tinybind::appendElement(product, "progress");
    if (!status.empty())
        progress->SetAttribute("status", status);
    progress->SetAttribute("percentage", percentage);
}

// The six characters of the base64 alphabet after the letters and digits.
const char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t base64LineLength = 76;

std::string base64Lines(const std::vector<char>& bytes) {
    std::string out;
    out.reserve(bytes.size() / 3 * 4 + bytes.size() / 57 * 2 + 8);
    size_t lineLength = 0;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t count = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (count > 1)
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (count > 2)
            group |= static_cast<unsigned char>(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            out += k <= count ? base64Alphabet[(group >> (18 - 6 * k)) & 0x3f] : '=';
        lineLength += 4;
        if (lineLength == base64LineLength) {
            out += "\r\n";
            lineLength = 0;
        }
    }
    return out;
}

// Turning the proxy off forgets it with its credentials.
void forgetProxy(PreferencesRecord& record) {
    record.proxyHost.clear();
    record.proxyPort = 0;
    record.proxyUser.clear();
    record.proxyPassword.clear();
}

void readProxy(PreferencesRecord& record, const TiXmlElement* proxy) {
    const tinybind::Element element(proxy);
    record.proxyHost = element.attribute("host");
    record.proxyPort = static_cast<int>(util::to_long(element.attribute("port")));
    const TiXmlElement* auth = proxy->FirstChildElement("auth");
    if (!auth)
        return;
    const tinybind::Element authElement(auth);
    const std::string use = authElement.attribute("use");
    if (use == "true") {
        record.proxyUser = authElement.attribute("user");
        // An empty field means the password was left as it is.
        const std::string password = authElement.attribute("password");
        if (!password.empty())
            record.proxyPassword = password;
    } else if (use == "false") {
        record.proxyUser.clear();
        record.proxyPassword.clear();
    }
}

} // namespace

void BackendProtocol::sendReleases(const BuildManager& catalogue, const InstTypes* types) {
    TiXmlElement* products = tinybind::appendElement(getRoot(), "products");
    const Opsys os;
    TiXmlElement* releases = nullptr;
    std::string currentProductId;
    for (const boost::shared_ptr<Release>& release : catalogue.getReleases(true)) {
        const Product& product = *release->prod();
        if (!releases || currentProductId != product._id) {
            releases = appendProduct(*products, catalogue, product);
            currentProductId = product._id;
        }
        if (!release->hasUsableBuild(os))
            continue;

        TiXmlElement* element = tinybind::appendElement(*releases, "release");
        element->SetAttribute("id", release->_id);
        element->SetAttribute("version", release->_version.version);
        element->SetAttribute("name",
                              releaseOwnName ? release->_name : product._name + " " + release->_codename);
        element->SetAttribute("codename", release->_codename);
        if (release->isDisplayTagShown(web_interface))
            element->SetAttribute("display_tag", release->getDisplayTag());
        std::string selectedId = catalogue.getSelectedReleaseId(product._id);
        if (selectedId.empty())
            selectedId = catalogue.getLatestReleaseId(product._id);
        const bool selected = release->_id == selectedId;
        if (selected)
            element->SetAttribute("selected", "true");
        element->SetAttribute("action", release->getActionName());
        if (release->isCurrentlyInstalled()) {
            element->SetAttribute("num_of_not_installed_components",
                                  static_cast<int>(release->_not_installed_components.size()));
            if (declaresUninstallSupport(*release))
                element->SetAttribute("uninstall_support", "true");
        }
        const std::string detailsUrl = release->getDetailsUrl();
        if (!detailsUrl.empty())
            element->SetAttribute("details_url", detailsUrl);
        if (types && selected)
            appendReleaseInstallTypes(element, release, types);
    }
    if (isFeedbackUnknown())
        products->SetAttribute("customer_feedback_required", "true");
}

void BackendProtocol::appendReleaseInstallTypes(TiXmlElement* element,
                                                const boost::shared_ptr<Release>& release,
                                                const InstTypes* types) {
    if (!release)
        throw internal_error(unit, 246);
    if (!types)
        throw internal_error(unit, 248);
    const auto product = types->findProduct(release->prod()->_id);
    if (product == types->products.end() || product->types.empty())
        return;
    Log::stream(3, true) << "DEBUG: BackendProtocol::appendReleaseInstallTypes: release " << release->_id
                         << " has filled in installation types, appending them to response.";
    TiXmlElement* list = tinybind::appendElement(*element, "installation_types");
    for (const InstallationType& type : product->types) {
        TiXmlElement* entry = tinybind::appendElement(*list, "type");
        entry->SetAttribute("name", type.names.front());
        entry->SetAttribute("description", type.description);
    }
}

void BackendProtocol::sendBestwithInfo(const std::vector<BestWithInfo>& infos) {
    setStatus("warning");
    TiXmlElement* list = tinybind::appendElement(getRoot(), "bestwith_info");
    for (const BestWithInfo& info : infos) {
        TiXmlElement* product = tinybind::appendElement(*list, "product");
        product->SetAttribute("id", info.productId);
        product->SetAttribute("description", info.description);
        product->SetAttribute("version", info.version);
        for (const BestWithInfo::Alternative& alternative : info.alternatives) {
            TiXmlElement* bestwith = tinybind::appendElement(*product, "bestwith");
            bestwith->SetAttribute("id", alternative.id);
            bestwith->SetAttribute("description", alternative.description);
            bestwith->SetAttribute("version", alternative.version);
            bestwith->SetAttribute("instead_of", alternative.insteadOf);
        }
    }
}

std::vector<ProductSelection> BackendProtocol::parseProductSelection(const tinybind::Element& request) {
    const tinybind::Element products = request.child("products");
    if (products.get()->Attribute("customer_feedback_enabled"))
        setFeedbackEnabled(products.boolAttribute("customer_feedback_enabled"));
    std::vector<ProductSelection> selections;
    for (tinybind::ChildIterator it(products, "product"), end; it != end; ++it) {
        const tinybind::Element product = *it;
        ProductSelection selection;
        selection.productId = product.attribute("id");
        selection.releaseId = product.attribute("release_id");
        selection.installationType = product.attribute("installation_type");
        selection.customize = product.get()->Attribute("customize") && product.boolAttribute("customize");
        selections.push_back(selection);
    }
    return selections;
}

void BackendProtocol::sendPreferences(const std::string& source, bool locked, const std::string& target,
                                      const Downloader::Proxy& proxy) {
    TiXmlElement* preferences = tinybind::appendElement(getRoot(), "preferences");
    TiXmlElement* sourceElement = tinybind::appendElement(*preferences, "source");
    if (source == Options::defaultSource) {
        sourceElement->SetAttribute("type", "moxel");
    } else if (isLocalPath(source)) {
        sourceElement->SetAttribute("type", "local");
        tinybind::appendElement(*sourceElement, "source")->SetAttribute("path", source);
    } else {
        sourceElement->SetAttribute("type", "mirror");
        tinybind::appendElement(*sourceElement, "mirror")->SetAttribute("src", source);
    }
    if (locked)
        sourceElement->SetAttribute("locked", "true");
    // The element order is fixed: the source's own child comes first, then the target.
    tinybind::appendElement(*sourceElement, "target")->SetAttribute("path", target);

    TiXmlElement* proxyElement = tinybind::appendElement(*preferences, "proxy");
    if (proxy.host.empty()) {
        proxyElement->SetAttribute("use", "false");
        return;
    }
    proxyElement->SetAttribute("use", "true");
    proxyElement->SetAttribute("host", proxy.host);
    proxyElement->SetAttribute("port", proxy.port);
    if (proxy.user.empty())
        return;
    // The browser learns whether a password is stored, never the password.
    TiXmlElement* auth = tinybind::appendElement(*proxyElement, "auth");
    auth->SetAttribute("user", proxy.user);
    tinybind::setBoolAttribute(*auth, "password_set", !proxy.password.empty());
}

bool BackendProtocol::parsePreferences(PreferencesRecord& record, const tinybind::Element& preferences) {
    // The copy is what a bad request is answered with, annotated and without any password.
    TiXmlElement copy(*preferences.get());
    bool bad = false;
    if (preferences.get()->FirstChildElement("source")) {
        const tinybind::Element source = preferences.child("source");
        const std::string type = source.attribute("type");
        std::string problem;
        if (type == "moxel")
            record.source = Options::defaultSource;
        else if (type == "mirror")
            record.source = source.child("mirror").attribute("src");
        else if (type == "local")
            record.source = source.child("source").attribute("path");
        else if (type.empty())
            problem = "Attribute 'type' is empty";
        else
            problem = "Invalid source type: " + type;
        if (!problem.empty()) {
            tinybind::appendText(*tinybind::appendElement(*copy.FirstChildElement("source"), "error"),
                                 problem);
            bad = true;
        }
        record.target = source.child("target").attribute("path");
    }

    if (const TiXmlElement* proxy = preferences.get()->FirstChildElement("proxy")) {
        const std::string use = tinybind::Element(proxy).attribute("use");
        if (use == "true")
            readProxy(record, proxy);
        else if (use == "false")
            forgetProxy(record);
        if (TiXmlElement* copiedProxy = copy.FirstChildElement("proxy"))
            if (TiXmlElement* copiedAuth = copiedProxy->FirstChildElement("auth"))
                copiedAuth->RemoveAttribute("password");
    }

    if (!bad)
        return true;
    setStatus("bad_values");
    getRoot().InsertEndChild(copy);
    return false;
}

std::string BackendProtocol::parseSetLocale(const tinybind::Element& request) {
    tinybind::Element locale = request;
    locale.findChild("locale");
    if (!locale)
        throw error(3, 1, 1, 3) << "Invalid 'set_locale' request: " << locale.getErrorText();
    return locale.attribute("name");
}

void BackendProtocol::sendProgress(const std::string& console, bool finished, bool succeeded,
                                   const BuildManager& catalogue) {
    ProductsProgress* progress = ProductsProgress::instance();
    if (!progress)
        throw internal_error(unit, 452);
    ProductsProgress::progress_list_t entries;
    progress->get_progress(entries);

    TiXmlElement* products = tinybind::appendElement(getRoot(), "products");
    const std::string finalStatus = succeeded ? "completed" : "failed";
    if (!entries.empty()) {
        for (const ProductsProgress::release_progress_t& entry : entries) {
            TiXmlElement* product = appendProgressProduct(*products, *entry.release);
            appendProgress(*product, finished ? finalStatus : progressStatus(entry.state), entry.percent);
        }
    } else {
        for (const boost::shared_ptr<Release>& release : catalogue.getReleases(true)) {
            if (!release->_selected)
                continue;
            TiXmlElement* product = appendProgressProduct(*products, *release);
            appendProgress(*product, finished ? finalStatus : "waiting", 0);
        }
    }
    tinybind::appendText(*tinybind::appendElement(getRoot(), "console"), console);
}

long BackendProtocol::parseGetLog(const tinybind::Element& request) {
    const std::string size = request.child("command").attribute("size");
    if (size.empty())
        throw internal_error(unit, 520);
    const long bytes = util::to_long(size);
    // A negative count would read as a huge one.
    if (bytes < 0)
        throw internal_error(unit, 524);
    return bytes;
}

void BackendProtocol::sendLog(const std::string& text) {
    tinybind::appendText(*tinybind::appendElement(getRoot(), "log"), text);
}

ProductIconRequest BackendProtocol::parseGetProductIcon(const tinybind::Element& request) {
    const tinybind::Element command = request.child("command");
    ProductIconRequest icon;
    icon.productId = command.attribute("prod_id");
    icon.enabled = command.boolAttribute("enabled");
    return icon;
}

void BackendProtocol::sendData(const std::vector<char>& bytes) {
    if (bytes.empty())
        throw internal_error(unit, 560);
    TiXmlElement* data = tinybind::appendElement(getRoot(), "data");
    data->SetAttribute("encoding", "base64");
    tinybind::appendText(*data, base64Lines(bytes));
}
