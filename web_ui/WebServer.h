#pragma once

#include "httpd/tarvik.h"

#include <string>
#include <vector>

// The web server process: the embedded HTTP server with the wizard's pages and files.

// Runs the server until *stopFlag becomes non-zero (forever without a flag). An empty certificate
// path serves plain HTTP and ignores the TLS texts. Returns 0.
int webServerMain(int port, const std::string& certificatePath, const std::string& sslProtocols,
                  const std::string& sslCiphers, const std::string& sslCipherServerPreference,
                  const volatile char* stopFlag);

// The argument vector of the server, without the closing null entry.
std::vector<std::string> serverArguments(int port, const std::string& certificatePath,
                                         const std::string& sslProtocols, const std::string& sslCiphers,
                                         const std::string& sslCipherServerPreference);

// Registers the page URLs, the static files and the gated answer for every other URL.
void registerPages(httpd_context* context);
void registerStaticFiles(httpd_context* context);

// Copies a non-empty WEB_SECRET into the one-time secret of the login.
void loadWebSecret();

void rootPage(httpd_arg* arg);
void reapChildren(int signal);
