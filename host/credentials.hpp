// Where the head-end link's secrets come from: the broker password, the
// TLS client key and the key's pass phrase. None of them is ever taken from
// the command line (every local user can read a process's arguments), and
// none is ever written into a log line or a message: messages name the
// file or source, never what it holds.
//
// Broker password, first found wins:
//   1. --mqtt-password-file FILE (or mqtt-password-file in the settings file)
//   2. the environment variable DCU_MQTT_PASSWORD
//   3. the systemd credential mqtt-password ($CREDENTIALS_DIRECTORY/mqtt-password)
//   4. the store's MQTT_INFO BrokerPass
// TLS key: --key FILE, else the credential tls-key. Its pass phrase:
// --key-password-file FILE, else the credential key-password.
#pragma once

#include <optional>
#include <string>

namespace dcu::host {

inline constexpr const char *kPasswordVariable = "DCU_MQTT_PASSWORD";
inline constexpr const char *kPasswordCredential = "mqtt-password";
inline constexpr const char *kKeyCredential = "tls-key";
inline constexpr const char *kKeyPasswordCredential = "key-password";

// A secret and where it came from ("the file /etc/dcu/pw", "the systemd
// credential mqtt-password", ...), for log lines.
struct Secret {
    std::string value;
    std::string source;
};

// The whole file, less one line end at its end. Nothing, with a reason that
// names the file (what is meant by it, e.g. "the password file"), when it
// can't be read or holds nothing.
std::optional<std::string> read_secret_file(const std::string &path, const std::string &meaning, std::string *error);

// $CREDENTIALS_DIRECTORY/name when the service manager handed the process
// that credential; nothing otherwise.
std::optional<std::string> credential_path(const std::string &name);

// The broker password from the first of sources 1 to 3 that has one;
// nothing when none has (the store's BrokerPass then counts). An unreadable
// file is an error (*error set), not a source skipped. The environment
// variable is removed once read, so nothing started later inherits it.
std::optional<Secret> broker_password(const std::optional<std::string> &password_file, std::string *error);

}  // namespace dcu::host
