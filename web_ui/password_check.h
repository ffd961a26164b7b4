#pragma once

#include <security/pam_appl.h>

#include <string>

// The system password check of the web login, through PAM.
namespace password_check {

// Authenticates the login with the password and checks that the account may log in now (not
// locked, not expired). Raises a system `error` when PAM cannot be started.
bool checkPassword(const std::string& login, const std::string& password);

// Answers PAM's prompts: the password for hidden prompts; messages go to the log.
int pamConversation(int count, const pam_message** messages, pam_response** responses, void* password);

// The name of the process's real user; raises a system `error` when it has no password entry.
std::string getCurrentUserName();
bool isCurrentUser(const std::string& login);

} // namespace password_check

// One PAM transaction, ended when it goes out of scope.
class PamSession {
public:
    PamSession(const std::string& service, const std::string& login, const std::string& password);
    PamSession(const PamSession&) = delete;
    PamSession& operator=(const PamSession&) = delete;
    ~PamSession() { end(handle, status); }

    // A PAM call whose result becomes the last status; true on PAM_SUCCESS.
    bool run(int (*step)(pam_handle_t*, int), const char* what);

    static void end(pam_handle_t* handle, int lastStatus);

private:
    std::string service;
    std::string password;
    pam_conv conversation;
    pam_handle_t* handle = nullptr;
    int status = PAM_SUCCESS;
};
