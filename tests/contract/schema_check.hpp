// Runs schemas/validate.py, the schema check an integrator runs too, with
// Debian's python3 (its python3-jsonschema), and reads its verdicts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dcu::test {

struct Verdict {
    std::string file;
    int index = 0;       // the message's place in its file, from 1
    std::string schema;  // "OD_BILLING", "failure", ...; "-" when none applies
    bool ok = false;
};

struct SchemaCheck {
    int exit_code = -1;
    std::vector<Verdict> verdicts;  // one per message, in file order
    std::string problems;           // what is wrong, one line each
};

// kind: "answers", "requests", "status" or "schemas"; paths: files or folders.
SchemaCheck check_against_schemas(const std::string &kind, const std::vector<std::filesystem::path> &paths);

// The schemas of the verdicts, in order.
std::vector<std::string> schemas_of(const std::vector<Verdict> &verdicts);

}  // namespace dcu::test
