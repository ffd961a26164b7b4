// The web server process behind a scripted back end, for tests that drive it over HTTP.
//   webui-test-server PORT ANSWERS_DIR COMMANDS_FILE [CURRENT_PAGE]
// The back end answers "get_current_page" with CURRENT_PAGE (default "summary") and every other
// request with status "ok"; it appends each request's command to COMMANDS_FILE. "?unit=" answers come
// from ANSWERS_DIR. The web server child ends with this process.

#include "common/runtime/Log.h"
#include "common/transport/WebUiTransport.h"
#include "web_ui/PageRequest.h"
#include "web_ui/WebServer.h"

#include <sys/prctl.h>
#include <tinyxml.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace {

std::string commandOf(const std::string& request) {
    TiXmlDocument document;
    document.Parse(request.c_str());
    const TiXmlElement* root = document.RootElement();
    const TiXmlElement* command = root ? root->FirstChildElement("command") : nullptr;
    const char* value = command ? command->Attribute("value") : nullptr;
    return value ? value : "";
}

TiXmlDocument answerTo(const std::string& command, const std::string& currentPage) {
    TiXmlDocument answer;
    TiXmlElement root("dizadizezeroz");
    root.SetAttribute("status", "ok");
    if (command == "get_current_page") {
        TiXmlElement page("page");
        page.SetAttribute("id", currentPage);
        root.InsertEndChild(page);
    }
    answer.InsertEndChild(root);
    return answer;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: webui-test-server PORT ANSWERS_DIR COMMANDS_FILE [CURRENT_PAGE]\n";
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::string currentPage = argc > 4 ? argv[4] : "summary";
    Log::setStderrThreshold(-1);
    WebUiTransport backend(WebUiTransport::server);
    const pid_t parent = getpid();
    const pid_t server = fork();
    if (server == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        enableUnitAnswers(argv[2]);
        _exit(webServerMain(port, "", "", "", "", nullptr));
    }
    std::ofstream commands(argv[3], std::ios::app);
    for (;;) {
        backend.waitCommand();
        const std::string command = commandOf(backend.getCommand());
        commands << command << std::endl;
        backend.sendAnswer(answerTo(command, currentPage));
    }
}
