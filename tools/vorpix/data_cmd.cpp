// vorpix data: where the library looks for its map files, and what it finds.
#include "cli.hpp"
#include "commands.hpp"

#include "datafile.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vorpix::cli {
namespace {

std::vector<std::string> split_path(const char *list) {
    std::vector<std::string> out;
    std::string dir;
    for (const char *c = list ? list : "";; ++c) {
        if (*c && *c != ':') {
            dir += *c;
            continue;
        }
        if (!dir.empty()) out.push_back(dir);
        dir.clear();
        if (!*c) return out;
    }
}

std::vector<std::string> map_names() {
    std::vector<std::string> names;
    for (const char *res : {"c", "l", "i", "h", "f"}) names.push_back(std::string("maps/vorpix/gshhs_") + res + ".b");
    for (const char *kind : {"border", "river"})
        for (const char *res : {"c", "l", "i", "h", "f"})
            names.push_back(std::string("maps/vorpix/binned_") + kind + "_" + res + ".cdf");
    return names;
}

int run_data(int argc, char **argv) {
    Args args(argc, argv, {});
    args.allow_flags({});
    if (!args.positional().empty()) throw UsageError("takes no arguments");
    std::string out = "Directories searched, in order:\n";
    for (const std::string &dir : split_path(std::getenv(VORPIX_DATA_PATH_ENV)))
        out += "  " + dir + "  (" VORPIX_DATA_PATH_ENV ")\n";
    for (const std::string &dir : split_path(datafile_default_path())) out += "  " + dir + "  (built in)\n";
    out += "Map files:\n";
    std::map<std::string, std::pair<std::string, std::string>> resolutions;  // kind: installed, missing
    for (const std::string &name : map_names()) {
        const std::unique_ptr<char, decltype(&std::free)> found(datafile(nullptr, name.c_str()), &std::free);
        out += "  " + name + std::string(name.size() < 33 ? 33 - name.size() : 1, ' ') +
               (found ? found.get() : "not found") + "\n";
        auto &[installed, missing] = resolutions[map_kind(name)];
        (found ? installed : missing) += name[name.rfind('.') - 1];
    }
    out += "Resolutions installed:\n";
    const auto spaced = [](const std::string &letters) {
        std::string out;
        for (const char c : letters) out += (out.empty() ? "" : " ") + std::string(1, c);
        return out;
    };
    for (const char *kind : {"shorelines", "borders", "rivers"}) {
        const auto &[installed, missing] = resolutions[kind];
        out += std::string("  ") + kind + std::string(12 - std::strlen(kind), ' ') +
               (installed.empty() ? "none" : spaced(installed)) +
               (missing.empty() ? "" : "  (not " + spaced(missing) + ": " + install_command + ")") + "\n";
    }
    Output output("");
    output.append(out);
    output.commit();
    return 0;
}

}  // namespace

const Command data_command{"data", "where the map files are looked for and found",
                           "usage: vorpix data\n\n"
                           "Prints the directories searched for map files, in order: those listed in\n"
                           "VORPIX_DATA_PATH (separated by ':'), then the built-in ones. A library run\n"
                           "from its build directory searches the source tree it was built from, then\n"
                           "the configured data directory; an installed one searches the configured\n"
                           "data directory and, when its prefix was moved, the data directory at the\n"
                           "same place relative to itself, if only root or its owner can change it.\n"
                           "Then, for each map file (the five shoreline files and ten border and\n"
                           "river files under maps/vorpix/), the file found, or \"not found\"; and\n"
                           "which resolutions of shorelines, borders and rivers are installed, with\n"
                           "the command that installs the others.\n",
                           run_data};

}  // namespace vorpix::cli
