#include "cli.hpp"
#include "commands.hpp"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

using namespace vorpix::cli;

namespace {

const Command *const commands[] = {&info_command,   &coast_command, &borders_command, &shapes_command, &texture_command,
                                   &render_command, &index_command, &fetch_command,   &data_command};

void print_help() {
    std::printf(
        "usage: vorpix COMMAND [OPTIONS] [ARGS]\n\n"
        "Reads shorelines, borders, rivers, shapefiles, dBase files and DDS textures.\n\n"
        "Commands:\n");
    for (const Command *c : commands) std::printf("  %-9s %s\n", c->name, c->summary);
    std::printf(
        "\nOptions:\n  --help     this text; 'vorpix COMMAND --help' describes a command\n"
        "  --version  the version\n\n"
        "Data files (maps/vorpix/...) are looked for in the directories listed in\n"
        "VORPIX_DATA_PATH (separated by ':'), then in the built-in ones; 'vorpix data'\n"
        "lists them.\n");
}

int run(int argc, char **argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        print_help();
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("vorpix %s\n", VORPIX_VERSION);
        return 0;
    }
    for (const Command *c : commands) {
        if (std::strcmp(argv[1], c->name) != 0) continue;
        for (int i = 2; i < argc; ++i) {
            if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
                std::fputs(c->usage, stdout);
                return 0;
            }
        }
        try {
            return c->run(argc - 1, argv + 1);
        } catch (const UsageError &e) {
            std::fprintf(stderr, "vorpix %s: %s (see 'vorpix %s --help')\n", c->name, printable(e.what()).c_str(),
                         c->name);
            return 2;
        } catch (const InputError &e) {
            std::fprintf(stderr, "vorpix: %s\n", printable(e.what()).c_str());
            return 1;
        } catch (const std::bad_alloc &) {
            const std::string &file = last_input();
            std::fprintf(stderr, "vorpix: %s%sout of memory\n", printable(file).c_str(), file.empty() ? "" : ": ");
            return 1;
        } catch (const std::exception &e) {
            std::fprintf(stderr, "vorpix: %s\n", printable(e.what()).c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "vorpix: unknown command \"%s\" (see 'vorpix --help')\n", printable(argv[1]).c_str());
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    const int status = run(argc, argv);
    return status == 0 ? close_stdout(status) : status;
}
