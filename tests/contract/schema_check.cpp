#include "tests/contract/schema_check.hpp"

#include <sstream>

#include "tests/support/run_program.hpp"

namespace dcu::test {

SchemaCheck check_against_schemas(const std::string &kind, const std::vector<std::filesystem::path> &paths) {
    // Debian's interpreter by its path: a python3 earlier on PATH (a
    // virtual environment, pyenv) may lack the Debian modules.
    std::vector<std::string> argv{"/usr/bin/python3", VALIDATE_PY, kind};
    for (const auto &path : paths) argv.push_back(path.string());
    RunOptions options;
    options.timeout = std::chrono::minutes(5);
    const RunResult run = run_program(argv, options);

    SchemaCheck check;
    check.exit_code = run.exit_code;
    check.problems = run.err;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Verdict verdict;
        std::string index, status;
        if (!std::getline(fields, verdict.file, '\t') || !std::getline(fields, index, '\t') ||
            !std::getline(fields, verdict.schema, '\t') || !std::getline(fields, status))
            continue;
        verdict.index = std::atoi(index.c_str());
        verdict.ok = status == "ok";
        check.verdicts.push_back(verdict);
    }
    return check;
}

std::vector<std::string> schemas_of(const std::vector<Verdict> &verdicts) {
    std::vector<std::string> names;
    for (const auto &verdict : verdicts) names.push_back(verdict.schema);
    return names;
}

}  // namespace dcu::test
