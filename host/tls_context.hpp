// The TLS side of the head-end link: an OpenSSL context handed to the MQTT
// client library, so that the broker's certificate chain and its name are
// checked by our own settings, whatever name the broker is reached by.
//
// Verification is never off: the chain must lead to the CA given
// (--cafile/--capath) and the certificate must name the broker as given
// (--broker or BrokerIp; an address must be in the certificate as an IP
// entry), or --tls-server-name when that is given. A client certificate
// (--cert) goes with its key (--key, or the systemd credential tls-key),
// which may be encrypted (pass phrase from --key-password-file or the
// credential key-password).
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <optional>
#include <string>

namespace dcu::host {

struct TlsOptions {
    std::string cafile;
    std::string capath;
    std::string cert;
    std::string key;                // empty: the credential tls-key, if any
    std::string key_password_file;  // empty: the credential key-password, if any
    std::string version;            // "tlsv1.2" or "tlsv1.3"; empty: 1.2 or later
    std::string server_name;        // empty: the broker host

    // TLS is on when the broker's certificate can be checked.
    bool wanted() const { return !cafile.empty() || !capath.empty(); }
    // Any TLS option given at all.
    bool any() const {
        return wanted() || !cert.empty() || !key.empty() || !key_password_file.empty() || !version.empty() ||
               !server_name.empty();
    }
};

struct SslContextFree {
    void operator()(SSL_CTX *context) const noexcept { SSL_CTX_free(context); }
};
using TlsContext = std::unique_ptr<SSL_CTX, SslContextFree>;

// "tlsv1.2" and "tlsv1.3".
bool is_tls_version(const std::string &text);

// A context that checks the broker for broker_host (or options.server_name),
// with the client certificate and its key loaded. Nothing, with a reason in
// *error that names files but never what they hold, when a file is missing
// or unreadable, the key is encrypted and no pass phrase was given, the pass
// phrase is wrong, or the key does not belong to the certificate.
std::optional<TlsContext> make_tls_context(const TlsOptions &options, const std::string &broker_host,
                                           std::string *error);

}  // namespace dcu::host
