// SPDX-License-Identifier: MIT
// xq4620: drives the XQ4620 evaluation board from the command line. The
// command line is parsed here and nowhere else; a subcommand runs only when
// the whole line made sense.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/commands.h"
#include "cli/messages.h"

namespace {

const char kDescription[] =
    "Drive the XQ4620 LED backlight driver on its evaluation board.\n"
    "Registers and values are hex bytes (C4, 0xC4); fields are named as `xq4620 fields` "
    "lists them.\n"
    "Exit status: 0 done, 1 the adapter, the chip or a file failed, 2 invalid usage or input.";

// The first word of the command line that is neither an option nor the value
// of --adapter: where the command was meant to be.
const char *firstWord(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--adapter") {
            ++i;
            continue;
        }
        if (arg.empty() || arg[0] != '-')
            return argv[i];
    }
    return nullptr;
}

std::string commandNames(const CLI::App &app) {
    std::string names;
    for (const CLI::App *sub : app.get_subcommands({}))
        names += (names.empty() ? "" : ", ") + sub->get_name();
    return names;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app(kDescription, "xq4620");
    app.set_version_flag("--version", cli::programAndVersion(), "Print the version and exit");
    app.require_subcommand(1, 1);
    app.fallthrough(); // --adapter may follow the subcommand too

    std::string adapter;
    app.add_option("--adapter", adapter,
                   "The adapter, as VTX_ADAPTER takes it: sim, sim:NAME, /dev/i2c-N, or empty for "
                   "USB adapters; overrides VTX_ADAPTER");

    bool json = false;
    std::string reg, value, path;
    std::vector<std::string> items;

    CLI::App *info = app.add_subcommand(
        "info", "Show the adapter, its version line and the chip's identification registers");
    info->add_flag("--json", json, "Print JSON");

    CLI::App *dump =
        app.add_subcommand("dump", "Read all thirteen registers and decode their fields");
    dump->add_flag("--json", json, "Print JSON");

    CLI::App *read = app.add_subcommand("read", "Read one register and print its value");
    read->add_option("REG", reg, "Register address, a hex byte")->required();

    CLI::App *write = app.add_subcommand("write", "Write one byte to one register");
    write->add_option("REG", reg, "Register address, a hex byte")->required();
    write->add_option("VALUE", value, "Value, a hex byte")->required();

    CLI::App *fields = app.add_subcommand(
        "fields", "List every field: name, register, bits, access and values (no adapter needed)");
    fields->add_flag("--json", json, "Print JSON");

    CLI::App *get = app.add_subcommand("get", "Print fields by name, one FIELD=VALUE a line");
    get->add_option("FIELD", items, "Field names, as `xq4620 fields` lists them")->required();
    get->add_flag("--json", json, "Print JSON");

    CLI::App *set = app.add_subcommand(
        "set", "Change fields by name; every other bit of their registers is kept. Each register "
               "touched is read once and written once");
    set->add_option("FIELD=VALUE", items,
                    "A field and its value: a choice text for coded fields (ovp=32V, ramp-on=8s), "
                    "a number otherwise (led-a-en=1, brightness-a=128)")
        ->required();

    CLI::App *reset =
        app.add_subcommand("reset", "Software reset: every register to its reset value");
    CLI::App *sleep = app.add_subcommand("sleep", "Set the Sleep bit of the Control register");

    CLI::App *save = app.add_subcommand("save", "Save registers 0x00 to 0x08 to a register file");
    save->add_option("FILE", path, "The file to write; - for standard output")->required();

    CLI::App *load = app.add_subcommand(
        "load", "Check a register file whole, write it in address order and read it back");
    load->add_option("FILE", path, "The register file")->required();

    CLI::App *doctor = app.add_subcommand(
        "doctor", "Check the adapter chain link by link and say what to fix; exit status 0 when "
                  "the panel would work");
    doctor->add_flag("--json", json, "Print JSON");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) // --help, --version
            return app.exit(e) == 0 ? cli::kSuccess : cli::kUsageError;
        std::string reason = e.what();
        if (app.get_subcommands().empty())
            if (const char *word = firstWord(argc, argv))
                reason = std::string("\"") + word + "\" is not a command; the commands are " +
                         commandNames(app);
        cli::complain(cli::kUsageError, reason);
        std::fprintf(stderr, "Run 'xq4620 --help' for more information.\n");
        return cli::kUsageError;
    }

    if (app.count("--adapter") > 0)
        setenv("VTX_ADAPTER", adapter.c_str(), 1);

    if (info->parsed())
        return cli::runInfo(json);
    if (dump->parsed())
        return cli::runDump(json);
    if (read->parsed())
        return cli::runRead(reg);
    if (write->parsed())
        return cli::runWrite(reg, value);
    if (fields->parsed())
        return cli::runFields(json);
    if (get->parsed())
        return cli::runGet(items, json);
    if (set->parsed())
        return cli::runSet(items);
    if (reset->parsed())
        return cli::runReset();
    if (sleep->parsed())
        return cli::runSleep();
    if (save->parsed())
        return cli::runSave(path);
    if (load->parsed())
        return cli::runLoad(path);
    if (doctor->parsed())
        return cli::runDoctor(json);
    return cli::kUsageError;
}
