#include "installer/driver/ToInstallComponentsReporter.h"

#include "common/runtime/error.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ComponentManager.h"

ToInstallComponentsReporter::ToInstallComponentsReporter(ComponentManager* components)
    : Reporter(ok, ""), components(components) {}

std::ostream& ToInstallComponentsReporter::put(std::ostream& out) const {
    class LineReporter : public ComponentManager::Visitor {
    public:
        explicit LineReporter(std::ostream& out) : out(out) {}

        void visit(const comp_ptr_t& component) override {
            const request_mode_t request = component->requestMode;
            const char letter = request == REQ_INSTALL ? 'I' : request == REQ_REMOVE ? 'R' : 'L';
            const char mark = stateMark(*component);
            try {
                const std::string line = std::string(1, letter) + " [" + mark + "] " + component->name + " " +
                                         action(request, component->getInstallModeName()) + " '" +
                                         component->getLocalVersion() + " => " +
                                         component->getServerVersion() + "'\n";
                out << line;
            } catch (const error& e) {
                out << letter << " [" << mark << "] " << component->name << " < " << e.getText() << " >\n";
            }
        }

    private:
        // Unknown before the state check, unless removal is requested; then shown as a blank.
        static char stateMark(const AiComponent& component) {
            try {
                return component.getStatusChar();
            } catch (const error&) {
                return ' ';
            }
        }

        static std::string action(request_mode_t request, const std::string& state) {
            if (request == REQ_REMOVE)
                return state != "install" ? "remove" : "noop";
            if (request == REQ_INSTALL)
                return state;
            return state == "upgrade" || state == "install" ? "noop" : state;
        }

        std::ostream& out;
    };

    LineReporter reporter(out);
    components->accept(reporter);
    out.flush();
    return out;
}
