#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <string>

// The web wizard's certificate when none was named: an RSA key and a self-signed certificate in one
// PEM file below the home directory, made on first use and made again when the file is unusable.
class SelfSignedCertificate {
public:
    // Creates the file's directory (mode 0700) when it is missing.
    SelfSignedCertificate();
    SelfSignedCertificate(const SelfSignedCertificate&) = delete;
    SelfSignedCertificate& operator=(const SelfSignedCertificate&) = delete;

    // The file's path; generates the file unless it holds a key and its certificate, not expired.
    std::string getPath();
    void generate();

    // Whether the file holds a private key followed by a matching certificate that is valid now.
    static bool isUsable(const std::string& path);

private:
    struct FreeKey {
        void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    };
    struct FreeCertificate {
        void operator()(X509* certificate) const { X509_free(certificate); }
    };
    struct CloseFile {
        void operator()(FILE* file) const { std::fclose(file); }
    };

    void generateKey();
    void generateCertificate();
    // Through a temporary file beside `path`, renamed over it when complete.
    void writeFile();

    std::string path;
    std::unique_ptr<EVP_PKEY, FreeKey> key;
    std::unique_ptr<X509, FreeCertificate> certificate;
    int keyBits = 2048;
};
