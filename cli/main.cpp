#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string_view>

#include "CommandRegistry.h"
#include "DesktopModule.h"
#include "QuenwickCore/Version.h"

using brimvale::cli::CommandRegistry;

namespace {

constexpr const char* kMoreHelp = "Run with --help for more information.";

// Edits (insertions, deletions, substitutions) that turn a into b.
size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

int usageError(const std::string& message) {
    std::cerr << "brimvale-cli: " << message << '\n' << kMoreHelp << '\n';
    return brimvale::cli::kExitUsage;
}

// CLI11 writes a failed check as "--top: abc: not a whole number"; people read
// "--top abc: not a whole number".
std::string inWords(const CLI::ParseError& e) {
    std::string text = e.what();
    if (dynamic_cast<const CLI::ValidationError*>(&e) != nullptr) {
        const auto colon = text.find(": ");
        if (colon != std::string::npos && text.compare(0, 1, "-") == 0) text[colon] = ' ';
        if (colon != std::string::npos) text.erase(colon + 1, 1);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0)) {
        std::printf("brimvale-cli %s\n", quenwick::productVersion());
        return brimvale::cli::kExitOk;
    }

    CLI::App app{
        "brimvale-cli: where the disk space went, from the command line\n"
        "Exit status: 0 done; 1 wrong usage; 2 the work failed; 3 (scan) finished, but some "
        "items could not be read."};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Describe every verb and option");
    app.set_version_flag("-V,--version", std::string("brimvale-cli ") + quenwick::productVersion());

    std::vector<std::function<int()>> runners;
    std::vector<CLI::App*> verbs;
    const auto setUpVerbs = [&] {
        const auto& setups = CommandRegistry::all();
        for (size_t i = runners.size(); i < setups.size(); ++i) {
            const auto before = app.get_subcommands({}).size();
            runners.push_back(setups[i](app));
            auto subs = app.get_subcommands({});
            verbs.push_back(subs.size() > before ? subs.back() : nullptr);
        }
    };
    setUpVerbs();

    if (argc < 2) return usageError("a verb is required (--help lists them)");
    // The desktop module's verbs join only when asked for, or when help lists every verb.
    const bool ownVerb = std::any_of(verbs.begin(), verbs.end(), [&](const CLI::App* v) {
        return v != nullptr && v->get_name() == argv[1];
    });
    if (!ownVerb && brimvale::cli::tryLoadDesktopModule()) setUpVerbs();
    if (argv[1][0] != '-') {
        const std::string_view word = argv[1];
        const CLI::App* nearest = nullptr;
        size_t best = SIZE_MAX;
        for (const auto* verb : app.get_subcommands({})) {
            const size_t d = editDistance(word, verb->get_name());
            if (d == 0) {
                nearest = nullptr;
                best = 0;
                break;
            }
            if (d < best) {
                best = d;
                nearest = verb;
            }
        }
        if (best > 0) {
            std::string message = "\"" + std::string(word) + "\" is not a verb";
            if (nearest != nullptr && best <= std::max<size_t>(2, word.size() / 3))
                message += "; did you mean \"" + nearest->get_name() + "\"?";
            return usageError(message);
        }
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usageError(inWords(e));
    }

    for (size_t i = 0; i < verbs.size(); ++i) {
        if (verbs[i] != nullptr && verbs[i]->parsed()) return runners[i]();
    }
    return usageError("a verb is required");
}
