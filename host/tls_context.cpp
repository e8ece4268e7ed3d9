#include "host/tls_context.hpp"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "dcu/host_services.h"
#include "host/credentials.hpp"

namespace dcu::host {

namespace {

// The reason of the last OpenSSL failure, and the queue emptied for the next.
std::string openssl_reason() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0) return "unknown reason";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool is_address(const std::string &host) {
    unsigned char buffer[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// Logs why OpenSSL turned the broker's certificate down: the client library
// says only "certificate verify failed".
extern "C" int verify_broker(int preverified, X509_STORE_CTX *store) {
    if (!preverified) {
        const int depth = X509_STORE_CTX_get_error_depth(store);
        dbg_log(0, "%-20s : Broker certificate not accepted (chain depth %d): %s\n", "verify_broker()", depth,
                X509_verify_cert_error_string(X509_STORE_CTX_get_error(store)));
    }
    return preverified;
}

struct PassPhrase {
    std::string text;
    bool asked = false;  // OpenSSL wanted one: the key is encrypted
    ~PassPhrase() { OPENSSL_cleanse(text.data(), text.size()); }
};

extern "C" int give_pass_phrase(char *buffer, int size, int, void *user_data) {
    auto &phrase = *static_cast<PassPhrase *>(user_data);
    phrase.asked = true;
    if (phrase.text.empty() || phrase.text.size() > static_cast<std::size_t>(size)) return 0;
    std::memcpy(buffer, phrase.text.data(), phrase.text.size());
    return static_cast<int>(phrase.text.size());
}

struct BioFree {
    void operator()(BIO *bio) const noexcept { BIO_free(bio); }
};
struct KeyFree {
    void operator()(EVP_PKEY *key) const noexcept { EVP_PKEY_free(key); }
};

bool load_key(SSL_CTX *context, const TlsOptions &options, std::string *error) {
    std::string key_path = options.key;
    std::string key_source = "the key " + options.key;
    if (key_path.empty()) {
        auto credential = credential_path(kKeyCredential);
        if (!credential) {
            *error = "--cert " + options.cert + " needs its key: --key FILE or the systemd credential " +
                     kKeyCredential;
            return false;
        }
        key_path = *credential;
        key_source = std::string("the key from the systemd credential ") + kKeyCredential;
    }
    PassPhrase phrase;
    std::string phrase_source;
    if (!options.key_password_file.empty()) {
        auto text = read_secret_file(options.key_password_file, "the pass phrase file", error);
        if (!text) return false;
        phrase.text = std::move(*text);
        phrase_source = "the pass phrase from " + options.key_password_file;
    } else if (auto credential = credential_path(kKeyPasswordCredential)) {
        auto text = read_secret_file(*credential, "the credential", error);
        if (!text) return false;
        phrase.text = std::move(*text);
        phrase_source = std::string("the pass phrase from the systemd credential ") + kKeyPasswordCredential;
    }
    std::unique_ptr<BIO, BioFree> file(BIO_new_file(key_path.c_str(), "r"));
    if (!file) {
        ERR_clear_error();
        *error = "can't read " + key_source + ": " + std::strerror(errno);
        return false;
    }
    std::unique_ptr<EVP_PKEY, KeyFree> key(PEM_read_bio_PrivateKey(file.get(), nullptr, give_pass_phrase, &phrase));
    if (!key) {
        const std::string reason = openssl_reason();
        if (phrase.asked && phrase.text.empty())
            *error = key_source + " is encrypted: give its pass phrase with --key-password-file FILE or the "
                                  "systemd credential " + kKeyPasswordCredential;
        else if (phrase.asked)
            *error = key_source + " can't be opened with " + phrase_source + " (wrong pass phrase?)";
        else
            *error = key_source + " holds no private key that can be read: " + reason;
        return false;
    }
    if (SSL_CTX_use_PrivateKey(context, key.get()) != 1 || SSL_CTX_check_private_key(context) != 1) {
        ERR_clear_error();
        *error = key_source + " does not belong to the certificate " + options.cert;
        return false;
    }
    return true;
}

}  // namespace

bool is_tls_version(const std::string &text) { return text == "tlsv1.2" || text == "tlsv1.3"; }

std::optional<TlsContext> make_tls_context(const TlsOptions &options, const std::string &broker_host,
                                           std::string *error) {
    if (!options.wanted()) {
        *error = "the TLS options need --cafile FILE or --capath DIR: the broker's certificate is always checked";
        return std::nullopt;
    }
    if (!options.key.empty() && options.cert.empty()) {
        *error = "--key needs --cert (the client certificate it belongs to)";
        return std::nullopt;
    }
    TlsContext context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        *error = "can't make a TLS context: " + openssl_reason();
        return std::nullopt;
    }
    int lowest = TLS1_2_VERSION, highest = 0;
    if (options.version == "tlsv1.2") highest = TLS1_2_VERSION;
    if (options.version == "tlsv1.3") lowest = highest = TLS1_3_VERSION;
    SSL_CTX_set_min_proto_version(context.get(), lowest);
    SSL_CTX_set_max_proto_version(context.get(), highest);

    // OpenSSL would say "system lib" of a file it can't open.
    for (const auto &[path, option] : {std::pair{options.cafile, "--cafile"}, std::pair{options.capath, "--capath"},
                                       std::pair{options.cert, "--cert"}})
        if (!path.empty() && ::access(path.c_str(), R_OK) != 0) {
            *error = std::string("can't read ") + option + " " + path + ": " + std::strerror(errno);
            return std::nullopt;
        }
    const char *cafile = options.cafile.empty() ? nullptr : options.cafile.c_str();
    const char *capath = options.capath.empty() ? nullptr : options.capath.c_str();
    if (SSL_CTX_load_verify_locations(context.get(), cafile, capath) != 1) {
        *error = "can't read the CA certificates of " +
                 (cafile != nullptr ? "--cafile " + options.cafile : "--capath " + options.capath) + ": " +
                 openssl_reason();
        return std::nullopt;
    }
    // The chain and the name are checked in the handshake itself, so a
    // broker that fails either never sees the credentials.
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, verify_broker);
    const std::string &name = options.server_name.empty() ? broker_host : options.server_name;
    X509_VERIFY_PARAM *check = SSL_CTX_get0_param(context.get());
    const bool named = is_address(name) ? X509_VERIFY_PARAM_set1_ip_asc(check, name.c_str()) == 1
                                        : (X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS),
                                           X509_VERIFY_PARAM_set1_host(check, name.c_str(), name.size()) == 1);
    if (!named) {
        *error = "\"" + name + "\" is not a name a certificate can be checked for";
        return std::nullopt;
    }

    if (!options.cert.empty()) {
        if (SSL_CTX_use_certificate_chain_file(context.get(), options.cert.c_str()) != 1) {
            *error = "can't read the certificate " + options.cert + ": " + openssl_reason();
            return std::nullopt;
        }
        if (!load_key(context.get(), options, error)) return std::nullopt;
    } else if (!options.key_password_file.empty()) {
        *error = "--key-password-file goes with --cert and --key";
        return std::nullopt;
    }
    return context;
}

}  // namespace dcu::host
