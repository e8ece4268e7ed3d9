// Certificates made by the test with the openssl command, in a scratch
// directory: a CA, a broker certificate for 127.0.0.1, localhost and
// broker.test signed by it, a client certificate for the unit (its key
// plain and encrypted with a pass phrase), and a second CA that signed
// nothing the broker shows (for the "wrong CA" case). EC P-256 keys: quick
// to make.
#pragma once

#include <string>

#include "tests/support/temp_dir.hpp"

namespace dcu::test {

class TestPki {
public:
    TestPki();

    std::string ca() const { return path("ca.crt"); }
    std::string other_ca() const { return path("other-ca.crt"); }
    std::string server_cert() const { return path("server.crt"); }
    std::string server_key() const { return path("server.key"); }
    std::string client_cert() const { return path("client.crt"); }
    std::string client_key() const { return path("client.key"); }
    std::string encrypted_client_key() const { return path("client-encrypted.key"); }
    // The pass phrase of the encrypted key, and a file that holds it.
    static constexpr const char *kPassPhrase = "pki-pass-phrase-7";
    std::string pass_phrase_file() const { return path("pass-phrase"); }
    // A directory of the CA in OpenSSL's hashed form (--capath).
    std::string ca_dir() const { return path("ca-dir"); }
    std::string dir() const { return dir_.path().string(); }

private:
    std::string path(const char *name) const { return (dir_.path() / name).string(); }
    TempDir dir_;
};

}  // namespace dcu::test
