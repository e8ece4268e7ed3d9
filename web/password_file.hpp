// The web server's user file for the page: `dcuweb --set-password USER`.
//
// One line per user in the digest form the web server reads,
// "USER:REALM:MD5(USER:REALM:PASSWORD)", so no password is kept anywhere.
// Without the file, or without a line for a user, the server lets nobody
// in: the page is off until an administrator sets a password.
#pragma once

#include <string>
#include <string_view>

namespace dcu::web::password_file {

inline constexpr std::string_view kUserFile = "/etc/dcu/dcuweb.htdigest";
inline constexpr std::string_view kRealm = "DCU service";

// Why a user name can't be used (empty, a colon, a control character, more
// than 64 bytes); empty when it can.
std::string user_problem(std::string_view user);

// The file's line for user and password.
std::string digest_line(std::string_view user, std::string_view password);

// The user file with user's line put in place of an earlier one of the same
// user and realm, or added at the end; every other line as it was.
std::string with_user(std::string_view file_text, std::string_view user, std::string_view password);

// `dcuweb --set-password USER`: the password is read from standard input
// (one line; prompted for, without echo, on a terminal) and the user file
// replaced whole. Returns the exit status: 0, 1 when the file can't be
// written, 2 for a usage error.
int set_password(std::string_view user);

}  // namespace dcu::web::password_file
