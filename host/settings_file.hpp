// dcuhost's own settings file (--config FILE): the settings of a unit's
// head-end link that MQTT_INFO has no field for (TLS, the MQTT version,
// presence), kept by the integrator beside the unit's other files.
//
//   # comment
//   cafile = /etc/dcu/ca.crt
//   mqtt-password-file = /etc/dcu/mqtt-password
//
// One `key = value` a line; keys are dcuhost's long options without their
// dashes. Blanks around the key and the value are dropped; the value is
// the rest of the line as it is (a topic may hold blanks).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dcu::host {

struct FileSetting {
    std::string key;
    std::string value;
    int line = 0;  // counted from 1, for messages
};

// The settings in file order. Nothing, with the reason in *error, when the
// file can't be read or a line is neither blank, a comment nor key = value,
// or a key comes twice. Keys are not checked here: the option parser knows
// them.
std::optional<std::vector<FileSetting>> read_settings_file(const std::string &path, std::string *error);

}  // namespace dcu::host
