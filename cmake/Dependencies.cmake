# Every dependency is a Debian package found on the system; nothing is fetched at build time.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HIREDIS REQUIRED IMPORTED_TARGET hiredis)
pkg_check_modules(CJSON REQUIRED IMPORTED_TARGET libcjson)
find_package(Threads REQUIRED)
