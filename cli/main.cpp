#include <CLI/CLI.hpp>
#include <QtCore/QCoreApplication>

#include <cstdio>
#include <iostream>

#include "CommandRegistry.h"

using brimvale::cli::CommandRegistry;

int main(int argc, char** argv) {
    // The process's application object is the tool's own, as in any Qt program; the libraries
    // that talk over the bus run their event threads beside it and never make one. It sees only
    // the program name, so no argument is taken for Qt's.
    int qtArgc = 1;
    char fallbackName[] = "brimvale-cli";
    char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
    QCoreApplication qtApp(qtArgc, qtArgv);

    CLI::App app{"brimvale-cli: where the disk space went, from the command line"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Describe every verb and option");

    std::vector<std::function<int()>> runners;
    std::vector<CLI::App*> verbs;
    for (auto& setup : CommandRegistry::all()) {
        const auto before = app.get_subcommands({}).size();
        runners.push_back(setup(app));
        auto subs = app.get_subcommands({});
        verbs.push_back(subs.size() > before ? subs.back() : nullptr);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return brimvale::cli::kExitUsage;
    }

    for (size_t i = 0; i < verbs.size(); ++i) {
        if (verbs[i] != nullptr && verbs[i]->parsed()) return runners[i]();
    }
    std::cerr << app.help();
    return brimvale::cli::kExitUsage;
}
