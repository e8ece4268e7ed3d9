#include "tests/host/support/test_pki.hpp"

#include <stdexcept>
#include <vector>

#include "tests/support/run_program.hpp"

namespace dcu::test {

namespace {

void openssl(const std::string &dir, std::vector<std::string> args) {
    args.insert(args.begin(), "openssl");
    RunOptions options;
    options.working_dir = dir;
    const auto result = run_program(args, options);
    if (result.exit_code != 0) throw std::runtime_error("openssl " + args[1] + " failed: " + result.err);
}

// A key and a certificate signed by the CA named (or self-signed when ca is empty).
void make_certificate(const std::string &dir, const std::string &name, const std::string &subject,
                      const std::string &ca, const std::string &extensions) {
    const std::vector<std::string> new_key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                                              "-keyout", name + ".key"};
    if (ca.empty()) {
        std::vector<std::string> args = {"req", "-x509", "-days", "2", "-subj", subject, "-out", name + ".crt"};
        args.insert(args.end(), new_key.begin(), new_key.end());
        openssl(dir, args);
        return;
    }
    std::vector<std::string> request = {"req", "-new", "-subj", subject, "-out", name + ".csr"};
    request.insert(request.end(), new_key.begin(), new_key.end());
    openssl(dir, request);
    std::vector<std::string> sign = {"x509", "-req", "-in", name + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
                                     "-CAcreateserial", "-days", "2", "-out", name + ".crt"};
    if (!extensions.empty()) {
        write_file(std::filesystem::path(dir) / (name + ".ext"), extensions + "\n");
        sign.insert(sign.end(), {"-extfile", name + ".ext"});
    }
    openssl(dir, sign);
}

}  // namespace

TestPki::TestPki() {
    const std::string d = dir();
    make_certificate(d, "ca", "/CN=DCU test CA", "", "");
    make_certificate(d, "other-ca", "/CN=Someone else's CA", "", "");
    make_certificate(d, "server", "/CN=broker.test", "ca",
                     "subjectAltName=IP:127.0.0.1,DNS:localhost,DNS:broker.test");
    make_certificate(d, "client", "/CN=dcu0001", "ca", "extendedKeyUsage=clientAuth");
    write_file(pass_phrase_file(), std::string(kPassPhrase) + "\n");
    openssl(d, {"pkey", "-in", "client.key", "-aes256", "-passout", "file:pass-phrase", "-out",
                "client-encrypted.key"});
    std::filesystem::create_directory(ca_dir());
    std::filesystem::copy_file(ca(), ca_dir() + "/ca.pem");
    openssl(d, {"rehash", "ca-dir"});
}

}  // namespace dcu::test
