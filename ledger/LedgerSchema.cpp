#include "ledger/LedgerSchema.h"

#include <sstream>

#include "ledger/LedgerError.h"
#include "ledger/LedgerSql.h"

namespace {
constexpr char StepMark[] = "-- version ";
}

std::vector<SchemaStep> ParseSchemaSteps(const std::string& text) {
    std::vector<SchemaStep> steps;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, sizeof StepMark - 1, StepMark) == 0) {
            SchemaStep step;
            std::size_t used = 0;
            const std::string rest = line.substr(sizeof StepMark - 1);
            try {
                step.Version = std::stoi(rest, &used);
            } catch (const std::exception&) {
                throw LedgerError("schema file: no version number in '" + line + "'");
            }
            if (step.Version != static_cast<int>(steps.size()) + 1)
                throw LedgerError("schema file: version " + std::to_string(step.Version) +
                                  " follows version " + std::to_string(steps.size()));
            const std::size_t colon = rest.find(':', used);
            if (colon != std::string::npos) step.Title = rest.substr(colon + 1);
            while (!step.Title.empty() && step.Title.front() == ' ') step.Title.erase(0, 1);
            steps.push_back(step);
        } else if (!steps.empty()) {
            steps.back().Sql += line + "\n";
        }
    }
    return steps;
}

const std::vector<SchemaStep>& SchemaSteps(SqlEngine engine) {
    static const std::vector<SchemaStep> sqlite = ParseSchemaSteps(SqliteSchemaSql);
    static const std::vector<SchemaStep> postgres = ParseSchemaSteps(PostgresSchemaSql);
    return engine == SqlEngine::Sqlite ? sqlite : postgres;
}

int LatestVersion(const std::vector<SchemaStep>& steps) {
    return steps.empty() ? 0 : steps.back().Version;
}

std::string NewerSchemaProblem(const std::string& ledger, int found, int known) {
    return ledger + " has schema version " + std::to_string(found) +
           ", written by a newer Q40Prog (this one knows up to " + std::to_string(known) +
           "): update Q40Prog on this machine";
}
