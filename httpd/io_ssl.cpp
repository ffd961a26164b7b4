// The TLS context and the TLS client stream.

#include "httpd/internal.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

struct protocol_row {
    const char* name;
    uint64_t bit;
};

const protocol_row protocols[] = {
    {"SSLv2", 0},
    {"SSLv3", SSL_OP_NO_SSLv3},
    {"TLSv1", SSL_OP_NO_TLSv1},
    {"TLSv1.1", SSL_OP_NO_TLSv1_1},
    {"TLSv1.2", SSL_OP_NO_TLSv1_2},
    {"TLSv1.3", SSL_OP_NO_TLSv1_3},
    {"DTLSv1", SSL_OP_NO_DTLSv1},
    {"DTLSv1.2", SSL_OP_NO_DTLSv1_2},
};

// TLS 1.3 is not in the starting set: naming only older versions keeps it on, as before it was known.
uint64_t protocol_options(const char* value) {
    while (value && (*value == ' ' || *value == '\t'))
        ++value;
    if (!value || !*value)
        return SSL_OP_NO_SSLv3;
    uint64_t bits = SSL_OP_NO_SSLv3 | SSL_OP_NO_TLSv1 | SSL_OP_NO_TLSv1_1 | SSL_OP_NO_TLSv1_2;
    char* copy = strdup(value);
    if (!copy)
        server_log(LOG_FATAL, nullptr, "cannot copy string to buffer");
    int accepted = 0;
    char* save = nullptr;
    for (char* word = strtok_r(copy, " ", &save); word; word = strtok_r(nullptr, " ", &save)) {
        const protocol_row* row = nullptr;
        for (const protocol_row& candidate : protocols)
            if (strcmp(candidate.name, word) == 0)
                row = &candidate;
        if (!row) {
            server_log(LOG_NOTICE, nullptr, "Unknown protocol %s", word);
            continue;
        }
        bits &= ~row->bit;
        accepted |= row->bit != 0;
    }
    free(copy);
    if (!accepted)
        server_log(LOG_FATAL, nullptr, "None of the requested SSL protocols (%s) are supported.", value);
    return bits;
}

EVP_PKEY* read_dh_params(const char* file) {
    BIO* bio = BIO_new_file(file, "r");
    if (!bio)
        return nullptr;
    EVP_PKEY* params = PEM_read_bio_Parameters(bio, nullptr);
    BIO_free(bio);
    ERR_clear_error();
    return params;
}

// The fixed 2048-bit group with generator 2 (RFC 7919 ffdhe2048).
EVP_PKEY* built_in_dh_group() {
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr);
    EVP_PKEY* params = nullptr;
    OSSL_PARAM settings[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("ffdhe2048"), 0),
        OSSL_PARAM_construct_end()};
    if (pctx && EVP_PKEY_paramgen_init(pctx) > 0 && EVP_PKEY_CTX_set_params(pctx, settings) > 0)
        EVP_PKEY_paramgen(pctx, &params);
    EVP_PKEY_CTX_free(pctx);
    return params;
}

void setup_dh(SSL_CTX* ssl_ctx, const char* file) {
    EVP_PKEY* params = read_dh_params(file);
    if (!params)
        params = built_in_dh_group();
    if (!params) {
        server_log(LOG_NOTICE, nullptr, "failed to get DH params");
        return;
    }
    if (SSL_CTX_set0_tmp_dh_pkey(ssl_ctx, params) != 1) {
        server_log(LOG_NOTICE, nullptr, "failed to set up DH params");
        EVP_PKEY_free(params);
    }
}

// Ephemeral elliptic-curve keys on prime256v1; X25519 is accepted too, so that clients offering it first
// need no second round trip.
void setup_ecdh(SSL_CTX* ssl_ctx) {
    if (SSL_CTX_set1_groups_list(ssl_ctx, "P-256:X25519") != 1) {
        server_log(LOG_NOTICE, nullptr, "failed to set up elliptic curve DH params");
        ERR_clear_error();
    }
}

// Maps a failed TLS call to the stream engine's conventions: -1 with EAGAIN means "try again later".
int tls_result(httpd_stream* stream, int n) {
    if (n > 0)
        return n;
    int error = SSL_get_error(stream->chan.ssl.ssl, n);
    ERR_clear_error();
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        errno = EAGAIN;
        return -1;
    }
    if (error == SSL_ERROR_ZERO_RETURN)
        return 0;
    errno = EPROTO;
    return -1;
}

int read_ssl(httpd_stream* stream, void* buffer, size_t length) {
    if (!(stream->flags & FLAG_TLS_DONE)) {
        tls_handshake(stream);
        if (!(stream->flags & FLAG_TLS_DONE)) {
            errno = EAGAIN;
            return -1;
        }
    }
    return tls_result(stream, SSL_read(stream->chan.ssl.ssl, buffer, static_cast<int>(length)));
}

int write_ssl(httpd_stream* stream, const void* data, size_t length) {
    return tls_result(stream, SSL_write(stream->chan.ssl.ssl, data, static_cast<int>(length)));
}

// A reply that ends with the connection needs the close alert, or the client cannot tell it from a cut one.
void close_ssl(httpd_stream* stream) {
    if (stream->flags & FLAG_TLS_DONE)
        SSL_shutdown(stream->chan.ssl.ssl);
    ERR_clear_error();
    close(stream->chan.ssl.sock);
    SSL_free(stream->chan.ssl.ssl);
    stream->chan.ssl.sock = -1;
    stream->chan.ssl.ssl = nullptr;
}

} // namespace

const httpd_io_class io_ssl = {"ssl", read_ssl, write_ssl, close_ssl};

void setup_tls(httpd_context* ctx) {
    const char* file = ctx->options[OPT_SSL_CERT];
    OPENSSL_init_ssl(0, nullptr);
    SSL_CTX* ssl_ctx = SSL_CTX_new(TLS_server_method());
    if (!ssl_ctx)
        server_log(LOG_FATAL, nullptr, "SSL_CTX_new error");
    // The whole chain: intermediate certificates follow the server's own in the file.
    if (SSL_CTX_use_certificate_chain_file(ssl_ctx, file) != 1 ||
        SSL_CTX_use_PrivateKey_file(ssl_ctx, file, SSL_FILETYPE_PEM) != 1)
        server_log(LOG_FATAL, nullptr, "cannot open %s", file);
    if (SSL_CTX_set_cipher_list(ssl_ctx,
                                ctx->options[OPT_SSL_CIPHERS] ? ctx->options[OPT_SSL_CIPHERS] : "") != 1)
        server_log(LOG_FATAL, nullptr, "SSL_CTX_set_cipher_list error");
    SSL_CTX_set_options(ssl_ctx, protocol_options(ctx->options[OPT_SSL_PROTOCOLS]));
    if (option_is_true(ctx, OPT_SSL_CIPHER_SERVER_PREFERENCE))
        SSL_CTX_set_options(ssl_ctx, SSL_OP_CIPHER_SERVER_PREFERENCE);
    setup_dh(ssl_ctx, file);
    setup_ecdh(ssl_ctx);
    // Replies are written from a buffer that moves between retries and may go out in parts; idle
    // connections give their record buffers back; the chain is the one in the file, not built anew for
    // every handshake.
    SSL_CTX_set_mode(ssl_ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_ENABLE_PARTIAL_WRITE |
                                  SSL_MODE_RELEASE_BUFFERS | SSL_MODE_NO_AUTO_CHAIN);
    ctx->ssl_ctx = ssl_ctx;
}

void tls_handshake(httpd_stream* stream) {
    int n = SSL_accept(stream->chan.ssl.ssl);
    if (n == 1) {
        stream->flags |= FLAG_TLS_DONE;
        return;
    }
    int error = SSL_get_error(stream->chan.ssl.ssl, n);
    ERR_clear_error();
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
        stream->flags |= FLAG_STOPPED;
}

int tls_pending(httpd_stream* stream) {
    return stream->io_class == &io_ssl && stream->chan.ssl.ssl && SSL_pending(stream->chan.ssl.ssl) > 0;
}
