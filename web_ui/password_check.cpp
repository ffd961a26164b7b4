#include "web_ui/password_check.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace password_check {

namespace {

std::string pamService() {
    if (fileops::exists("/etc/pam.d/system-auth"))
        return "system-auth";
    if (fileops::exists("/etc/pam.d/common-auth"))
        return "common-auth";
    return "other";
}

void freeResponses(pam_response* responses, int count) {
    for (int i = 0; i < count; ++i)
        if (responses[i].resp) {
            std::memset(responses[i].resp, 0, std::strlen(responses[i].resp));
            std::free(responses[i].resp);
        }
    std::free(responses);
}

} // namespace

bool checkPassword(const std::string& login, const std::string& password) {
    PamSession session(pamService(), login, password);
    // The account step refuses locked and expired accounts that would still authenticate.
    return session.run(pam_authenticate, "pam_authenticate") && session.run(pam_acct_mgmt, "pam_acct_mgmt");
}

int pamConversation(int count, const pam_message** messages, pam_response** responses, void* password) {
    // Some modules pass no place for answers along with their messages.
    if (count <= 0 || !responses)
        return PAM_CONV_ERR;
    *responses = nullptr;
    auto* answers = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
    if (!answers) {
        Log::stream(0, true) << "ERROR: PAM memory allocation error";
        return PAM_CONV_ERR;
    }
    for (int i = 0; i < count; ++i) {
        switch (messages[i]->msg_style) {
        case PAM_PROMPT_ECHO_OFF:
            if (password)
                answers[i].resp = strdup(static_cast<const std::string*>(password)->c_str());
            break;
        case PAM_PROMPT_ECHO_ON:
        case PAM_BINARY_PROMPT:
            break;
        case PAM_ERROR_MSG:
            Log::stream(0, true) << "ERROR: PAM Error: " << (messages[i]->msg ? messages[i]->msg : "");
            break;
        case PAM_TEXT_INFO:
            Log::stream(0, true) << "Notice: PAM Message: " << (messages[i]->msg ? messages[i]->msg : "");
            break;
        default:
            freeResponses(answers, count);
            return PAM_CONV_ERR;
        }
    }
    *responses = answers;
    return PAM_SUCCESS;
}

std::string getCurrentUserName() {
    const uid_t uid = getuid();
    passwd entry;
    passwd* found = nullptr;
    char buffer[16384];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        throw error(error::system, 1, 1, 3) << "Can't get user info for pid=" << static_cast<int>(uid);
    return found->pw_name;
}

bool isCurrentUser(const std::string& login) {
    return login == getCurrentUserName();
}

} // namespace password_check

PamSession::PamSession(const std::string& service, const std::string& login, const std::string& password)
    : service(service), password(password) {
    conversation.conv = password_check::pamConversation;
    conversation.appdata_ptr = &this->password;
    status = pam_start(service.c_str(), login.c_str(), &conversation, &handle);
    if (status != PAM_SUCCESS) {
        error failure(error::system, 1, 1, 3);
        failure << "unable to start PAM facility " << service << ": " << status << " - "
                << pam_strerror(handle, status);
        end(handle, status);
        handle = nullptr;
        throw failure;
    }
}

bool PamSession::run(int (*step)(pam_handle_t*, int), const char* what) {
    status = step(handle, 0);
    if (status == PAM_SUCCESS)
        return true;
    Log::stream(2, true) << "DEBUG: " << what << " failed. facility=" << service << ": " << status << " - "
                         << pam_strerror(handle, status);
    return false;
}

void PamSession::end(pam_handle_t* handle, int lastStatus) {
    if (handle && pam_end(handle, lastStatus) == PAM_SYSTEM_ERR)
        Log::stream(0, true) << "ERROR: pam_end() return error";
}
