#include "installer/web/SelfSignedCertificate.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace {

const long validity_seconds = 31536000;
// Random, positive and unique per certificate, within the 20 octets a serial may have.
const int serial_bytes = 16;

struct Entry {
    const char* field;
    const char* value;
};

const Entry subject_entries[] = {
    {"C", "CH"},
    {"L", "Schaffhausen"},
    {"O", "Moxel"},
    {"CN", "moxel.example"},
    {"emailAddress", "support@moxel.example"},
};

error certificateError() {
    return error(error::system, 2, 1, 2);
}

[[noreturn]] void failCreation(const std::string& what) {
    throw certificateError() << "Error certificate creation: " << what;
}

} // namespace

SelfSignedCertificate::SelfSignedCertificate()
    : path(fileops::get_home_dir() + "/.dizadizezeroz/dizadizezeroz.pem") {
    const std::string directory = fileops::dirname(path);
    if (!fileops::is_directory(directory)) {
        if (::mkdir(directory.c_str(), 0700) != 0 && !fileops::is_directory(directory))
            throw error(error::system, 1, 1, 2)
                << Messages().format("err_mkdir", directory, std::strerror(errno));
    }
    // The directory holds a private key.
    ::chmod(directory.c_str(), 0700);
}

std::string SelfSignedCertificate::getPath() {
    if (!isUsable(path))
        generate();
    return path;
}

bool SelfSignedCertificate::isUsable(const std::string& path) {
    std::unique_ptr<FILE, CloseFile> in(std::fopen(path.c_str(), "rbe"));
    if (!in)
        return false;
    std::unique_ptr<EVP_PKEY, FreeKey> storedKey(PEM_read_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    std::unique_ptr<X509, FreeCertificate> stored(PEM_read_X509(in.get(), nullptr, nullptr, nullptr));
    ERR_clear_error();
    return storedKey && stored && X509_check_private_key(stored.get(), storedKey.get()) == 1 &&
           X509_cmp_current_time(X509_get0_notBefore(stored.get())) < 0 &&
           X509_cmp_current_time(X509_get0_notAfter(stored.get())) > 0;
}

void SelfSignedCertificate::generate() {
    Log::stream(2, true) << "Generate self-signed certificate for access to web interface to " << path;
    Log::stream(2, true) << "Generating private key ";
    generateKey();
    Log::stream(2, true) << "Generating x509 certificate ";
    generateCertificate();
    writeFile();
}

void SelfSignedCertificate::generateKey() {
    key.reset(EVP_RSA_gen(static_cast<unsigned>(keyBits)));
    if (!key)
        failCreation("unable to generate " + std::to_string(keyBits) +
                     "-bits RSA key: " + std::to_string(ERR_get_error()));
}

void SelfSignedCertificate::generateCertificate() {
    certificate.reset(X509_new());
    if (!certificate)
        failCreation("unable to create X509 structure.");
    X509* x509 = certificate.get();

    unsigned char serial[serial_bytes];
    if (RAND_bytes(serial, sizeof(serial)) != 1)
        failCreation("unable to make a serial number");
    serial[0] = static_cast<unsigned char>((serial[0] & 0x7f) | 0x40);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> number(BN_bin2bn(serial, sizeof(serial), nullptr), BN_free);
    if (!number || !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(x509)))
        failCreation("unable to set the serial number");

    if (X509_set_version(x509, 2) != 1 || !X509_gmtime_adj(X509_getm_notBefore(x509), 0) ||
        !X509_gmtime_adj(X509_getm_notAfter(x509), validity_seconds) || X509_set_pubkey(x509, key.get()) != 1)
        failCreation("unable to fill in the X509 structure.");

    X509_NAME* name = X509_get_subject_name(x509);
    for (const Entry& entry : subject_entries)
        if (X509_NAME_add_entry_by_txt(name, entry.field, MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(entry.value), -1, -1, 0) != 1)
            failCreation(std::string("unable to add the subject entry ") + entry.field);
    if (X509_set_issuer_name(x509, name) != 1)
        failCreation("unable to set the issuer name");
    if (X509_sign(x509, key.get(), EVP_sha256()) == 0)
        failCreation("unable to sign certificate");
}

void SelfSignedCertificate::writeFile() {
    std::unique_ptr<BIO, decltype(&BIO_free)> pem(BIO_new(BIO_s_mem()), BIO_free);
    if (!pem)
        throw certificateError() << Messages().format("err_file_create", path);
    Log::stream(2, true) << "Writing private key to " << path;
    if (PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw certificateError() << Messages().format("err_filewrite2", path, "private key");
    Log::stream(2, true) << "Writing certificate to " << path;
    if (PEM_write_bio_X509(pem.get(), certificate.get()) != 1)
        throw certificateError() << Messages().format("err_filewrite2", path, "x509 certificate");
    char* data = nullptr;
    const long size = BIO_get_mem_data(pem.get(), &data);
    // The file holds a private key: readable by its owner only, whatever the umask.
    fileops::AtomicFile file(path, 0600);
    file.write(data, static_cast<size_t>(size));
    file.commit(true);
}
