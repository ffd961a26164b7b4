#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/hosts.h"
#include "common/runtime/util.h"
#include "installer/driver/Driver.h"
#include "installer/driver/Options.h"
#include "installer/driver/SystemExit.h"

#include <iostream>
#include <limits>

namespace driver {

void exitWithError() {
    sendNotificationMail(false);
    if (Options::enableXmlOutput)
        SystemExit::raise(0);
    Log::stream(3, true) << "Exit with error";
    waitForEnter();
    SystemExit::raise(1);
}

void exitWithSuccess() {
    sendNotificationMail(true);
    Log::stream(3, true) << "Exit with success";
    waitForEnter();
    SystemExit::raise(0);
}

void waitForEnter() {
    const Options* options = builtSettings();
    if (!options || !options->removeEverything || !options->interactiveUninstall)
        return;
    std::cout << Messages().getMessage("press_enter_to_exit") << "\n";
    std::cout.flush();
    std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
}

void sendNotificationMail(bool success) {
    const Options* options = builtSettings();
    if (!options || options->notifyEmail.empty())
        return;
    const std::string host = util::get_host_name_or_ip();
    const std::string subject =
        (success ? "The Panel was successfully updated at " : "Failed to update the Panel at ") + host;
    const std::string body = Log::getReport() + "\n\n---\n" + Messages().getMessage("Dizadizezeroz") + ".";
    util::send_mail(options->notifyEmail, subject, body);
    Log::stream(1, true) << "A message was sent to " << options->notifyEmail;
}

} // namespace driver
