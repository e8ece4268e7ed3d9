# Read by cpack for every package. Each Debian package's synopsis is the first
# line of its own description; without this CPack would put the project's
# one-line summary in front of every description instead.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
