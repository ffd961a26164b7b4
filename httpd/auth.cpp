// Digest authentication against password files, and the access-control list.

#include "httpd/internal.h"

#include <arpa/inet.h>
#include <openssl/evp.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace {

struct httpd_digest {
    httpd_vec username, uri, nonce, cnonce, response, qop, nc;
};

struct digest_param {
    const char* name;
    size_t offset;
};

const digest_param digest_params[] = {
    {"username=", offsetof(httpd_digest, username)}, {"cnonce=", offsetof(httpd_digest, cnonce)},
    {"response=", offsetof(httpd_digest, response)}, {"uri=", offsetof(httpd_digest, uri)},
    {"qop=", offsetof(httpd_digest, qop)},           {"nc=", offsetof(httpd_digest, nc)},
    {"nonce=", offsetof(httpd_digest, nonce)},
};

int vec_equals(const httpd_vec& v, const char* text, size_t len) {
    return v.ptr && static_cast<size_t>(v.len) == len && memcmp(v.ptr, text, len) == 0;
}

// A NUL-terminated copy of a parameter, cut to the buffer.
const char* vec_text(const httpd_vec& v, char* buffer, size_t size) {
    snprintf(buffer, size, "%.*s", v.ptr ? v.len : 0, v.ptr ? v.ptr : "");
    return buffer;
}

void parse_digest(const char* text, const char* end, httpd_digest* digest) {
    const char* p = text;
    while (p < end) {
        while (p < end && (*p == ',' || *p == ' '))
            ++p;
        const char* name = p;
        while (p < end && *p != '=')
            ++p;
        if (p >= end)
            return;
        ++p;
        size_t name_len = p - name;
        httpd_vec value;
        if (p < end && *p == '"') {
            value.ptr = ++p;
            while (p < end && *p != '"')
                ++p;
            value.len = static_cast<int>(p - value.ptr);
            if (p < end)
                ++p;
        } else {
            value.ptr = p;
            while (p < end && *p != ' ' && *p != ',')
                ++p;
            value.len = static_cast<int>(p - value.ptr);
        }
        for (const digest_param& param : digest_params)
            if (name_len == strlen(param.name) && strncmp(name, param.name, name_len) == 0)
                *reinterpret_cast<httpd_vec*>(reinterpret_cast<char*>(digest) + param.offset) = value;
    }
}

// The nonce is the issue time and a keyed digest of it, so it only comes from this server and ages.
void make_nonce(httpd_context* ctx, unsigned long issued, char* out, size_t size) {
    char stamp[32], key[33];
    snprintf(stamp, sizeof stamp, "%lu", issued);
    for (int i = 0; i < 16; ++i)
        snprintf(key + 2 * i, 3, "%02x", ctx->nonce_key[i]);
    char mac[33];
    md5(mac, stamp, key, nullptr);
    mac[32] = '\0';
    snprintf(out, size, "%s.%s", stamp, mac);
}

int nonce_is_fresh(httpd_context* ctx, const httpd_vec& nonce) {
    char text[80], expected[80];
    vec_text(nonce, text, sizeof text);
    char* end = nullptr;
    unsigned long issued = strtoul(text, &end, 10);
    if (end == text || *end != '.')
        return 0;
    make_nonce(ctx, issued, expected, sizeof expected);
    time_t now = httpd_now;
    return strcmp(text, expected) == 0 && issued <= static_cast<unsigned long>(now) &&
           static_cast<unsigned long>(now) - issued <= NONCE_LIFETIME;
}

// Reads one password line: user, realm and the hash as the run of non-blank characters after them.
int read_password_line(char* line, char** user, char** realm, char** hash) {
    char* first = strchr(line, ':');
    char* second = first ? strchr(first + 1, ':') : nullptr;
    if (!second)
        return 0;
    *first = *second = '\0';
    *user = line;
    *realm = first + 1;
    *hash = second + 1;
    (*hash)[strcspn(*hash, " \t\r\n")] = '\0';
    return **user && **realm && **hash;
}

int check_digest(httpd_connection* c, FILE* file) {
    const httpd_vec& authorization = c->ch.authorization;
    if (!authorization.ptr || authorization.len <= 20 || strncasecmp(authorization.ptr, "Digest ", 7) != 0)
        return 0;
    httpd_digest digest = {};
    parse_digest(authorization.ptr + 7, authorization.ptr + authorization.len, &digest);
    c->ch.user = digest.username;
    const char* realm = c->ctx->options[OPT_AUTH_REALM] ? c->ctx->options[OPT_AUTH_REALM] : "";

    char line[256];
    char *user, *line_realm, *hash;
    int found = 0;
    while (!found && fgets(line, sizeof line, file))
        found = read_password_line(line, &user, &line_realm, &hash) &&
                vec_equals(digest.username, user, strlen(user)) && strcmp(line_realm, realm) == 0;
    if (!found || digest.response.len != 32)
        return 0;
    // The credentials hold only for the request they were made for, with a nonce this server issued.
    if (!vec_equals(digest.uri, c->target.ptr, c->target.len) || !nonce_is_fresh(c->ctx, digest.nonce))
        return 0;
    char uri[PATH_LIMIT], nonce[80], nc[32], cnonce[256], qop[32];
    char a2[33], expected[33];
    md5(a2, method_names[c->method], vec_text(digest.uri, uri, sizeof uri), nullptr);
    a2[32] = '\0';
    md5(expected, hash, vec_text(digest.nonce, nonce, sizeof nonce), vec_text(digest.nc, nc, sizeof nc),
        vec_text(digest.cnonce, cnonce, sizeof cnonce), vec_text(digest.qop, qop, sizeof qop), a2, nullptr);
    if (memcmp(expected, digest.response.ptr, 32) != 0)
        return 0;
    c->authenticated = 1;
    return 1;
}

int check_file(httpd_connection* c, FILE* file) {
    int result = check_digest(c, file);
    fclose(file);
    return result;
}

FILE* open_auth_file(httpd_connection* c, const char* path) {
    const char* global = c->ctx->options[OPT_AUTH_GPASS];
    if (global)
        return fopen(global, "re");
    const char* slash = path ? strrchr(path, '/') : nullptr;
    if (!slash)
        return nullptr;
    char name[4097];
    if (snprintf(name, sizeof name, "%.*s/.htpasswd", static_cast<int>(slash - path), path) >=
        static_cast<int>(sizeof name))
        return nullptr;
    return fopen(name, "re");
}

unsigned ipv4_of(const sockaddr_storage* peer, int* is_ipv4) {
    *is_ipv4 = 1;
    if (peer->ss_family == AF_INET)
        return ntohl(reinterpret_cast<const sockaddr_in*>(peer)->sin_addr.s_addr);
    const in6_addr* a6 = &reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr;
    if (peer->ss_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(a6)) {
        unsigned ip;
        memcpy(&ip, a6->s6_addr + 12, 4);
        return ntohl(ip);
    }
    *is_ipv4 = 0;
    return 0;
}

} // namespace

void md5(char out[32], ...) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_DigestInit_ex(md, EVP_md5(), nullptr);
    va_list args;
    va_start(args, out);
    int first = 1;
    for (const char* piece = va_arg(args, const char*); piece; piece = va_arg(args, const char*), first = 0) {
        if (!*piece)
            continue;
        if (!first)
            EVP_DigestUpdate(md, ":", 1);
        EVP_DigestUpdate(md, piece, strlen(piece));
    }
    va_end(args);
    unsigned char digest[16];
    EVP_DigestFinal_ex(md, digest, nullptr);
    EVP_MD_CTX_free(md);
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 15];
    }
}

int check_auth(httpd_connection* c, const char* path) {
    const char* protect = c->ctx->options[OPT_PROTECT];
    httpd_vec item, prefix, file_name;
    while (next_list_item(&protect, &item)) {
        if (!split_pair(&item, &prefix, &file_name) || strncmp(c->uri, prefix.ptr, prefix.len) != 0)
            continue;
        char name[4095];
        snprintf(name, sizeof name, "%.*s", file_name.len, file_name.ptr);
        FILE* file = fopen(name, "re");
        if (file)
            return check_file(c, file);
        server_log(LOG_NOTICE, c, "check_auth: cannot open %s: %s", name, strerror(errno));
        break;
    }
    FILE* file = open_auth_file(c, path);
    return file ? check_file(c, file) : 1;
}

int check_put_auth(httpd_connection* c) {
    const char* name = c->ctx->options[OPT_AUTH_PUT];
    FILE* file = name ? fopen(name, "re") : nullptr;
    return file ? check_file(c, file) : 0;
}

void send_auth_request(httpd_connection* c) {
    char nonce[80], reason[512];
    make_nonce(c->ctx, static_cast<unsigned long>(httpd_now.load()), nonce, sizeof nonce);
    const char* realm = c->ctx->options[OPT_AUTH_REALM] ? c->ctx->options[OPT_AUTH_REALM] : "";
    snprintf(reason, sizeof reason,
             "Unauthorized\r\nWWW-Authenticate: Digest qop=\"auth\", realm=\"%s\", nonce=\"%s\"", realm,
             nonce);
    send_error_reply(c, 401, reason);
}

int httpd_edit_password_file(const char* file, const char* realm, const char* user, const char* password) {
    char temporary[4097];
    snprintf(temporary, sizeof temporary, "%s.tmp", file);
    FILE* created = fopen(file, "ae");
    if (created)
        fclose(created);
    FILE* in = fopen(file, "re");
    if (!in)
        server_log(LOG_FATAL, nullptr, "Cannot open %s: %s", file, strerror(errno));
    FILE* out = fopen(temporary, "we");
    if (!out)
        server_log(LOG_FATAL, nullptr, "Cannot open %s: %s", temporary, strerror(errno));
    char hash[33];
    md5(hash, user, realm, password, nullptr);
    hash[32] = '\0';
    char line[512], parsed[512];
    int replaced = 0;
    while (fgets(line, sizeof line, in)) {
        memcpy(parsed, line, sizeof line);
        char* first = strchr(parsed, ':');
        char* second = first ? strchr(first + 1, ':') : nullptr;
        if (!second)
            continue;
        *first = *second = '\0';
        if (strcmp(parsed, user) == 0 && strcmp(first + 1, realm) == 0) {
            fprintf(out, "%s:%s:%.32s\n", user, realm, hash);
            replaced = 1;
        } else {
            fputs(line, out);
        }
    }
    if (!replaced)
        fprintf(out, "%s:%s:%.32s\n", user, realm, hash);
    fclose(in);
    if (fflush(out) != 0 || fsync(fileno(out)) != 0 || fclose(out) != 0)
        server_log(LOG_FATAL, nullptr, "Cannot write %s: %s", temporary, strerror(errno));
    if (rename(temporary, file) != 0)
        server_log(LOG_FATAL, nullptr, "Cannot rename %s: %s", temporary, strerror(errno));
    return 0;
}

void free_acl(httpd_context* ctx) {
    LIST_FOREACH(&ctx->acl, entry, next) free(entry);
    list_init(&ctx->acl);
}

void set_acl(httpd_context* ctx, const char* value) {
    free_acl(ctx);
    httpd_vec item;
    const char* list = value;
    while (next_list_item(&list, &item)) {
        char text[64];
        snprintf(text, sizeof text, "%.*s", item.len, item.ptr);
        char flag;
        int a, b, c, d, bits = 32, consumed = 0;
        if (sscanf(text, "%c%d.%d.%d.%d%n", &flag, &a, &b, &c, &d, &consumed) != 5)
            server_log(LOG_FATAL, nullptr, "[%s]: subnet must be [+|-]x.x.x.x[/x]", item.ptr);
        if (flag != '+' && flag != '-')
            server_log(LOG_FATAL, nullptr, "flag must be + or -: [%s]", item.ptr);
        if (a < 0 || a > 255 || b < 0 || b > 255 || c < 0 || c > 255 || d < 0 || d > 255)
            server_log(LOG_FATAL, nullptr, "bad ip address: [%s]", item.ptr);
        httpd_acl_entry* entry = static_cast<httpd_acl_entry*>(calloc(1, sizeof(httpd_acl_entry)));
        if (!entry)
            server_log(LOG_FATAL, nullptr, "cannot malloc subnet");
        if (text[consumed] == '/' &&
            (sscanf(text + consumed + 1, "%d", &bits) != 1 || bits < 0 || bits > 32)) {
            free(entry);
            server_log(LOG_FATAL, nullptr, "bad subnet mask: %d [%s]", bits, item.ptr);
        }
        entry->mask = bits ? 0xffffffffu << (32 - bits) : 0;
        entry->ip = ((static_cast<unsigned>(a) << 24) | (b << 16) | (c << 8) | d) & entry->mask;
        entry->flag = flag;
        list_append(&ctx->acl, &entry->link);
    }
}

// A native IPv6 peer has no IPv4 address: only entries that match every address apply to it.
int acl_allows(httpd_context* ctx, const sockaddr_storage* peer) {
    int is_ipv4;
    unsigned ip = ipv4_of(peer, &is_ipv4);
    char verdict = '+';
    LIST_FOREACH(&ctx->acl, entry, next) {
        httpd_acl_entry* acl = reinterpret_cast<httpd_acl_entry*>(entry);
        if (is_ipv4 ? (ip & acl->mask) == acl->ip : acl->mask == 0)
            verdict = acl->flag;
    }
    return verdict == '+';
}
