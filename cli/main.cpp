// SPDX-License-Identifier: MIT
// xq4620: drives the XQ4620 evaluation board from the command line. The
// command line is parsed here and nowhere else; a subcommand runs only when
// the whole line made sense.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/messages.h"

namespace {

const char kDescription[] =
    "Drive the XQ4620 LED backlight driver on its evaluation board.\n"
    "Registers and values are hex bytes (C4, 0xC4); fields are named as `xq4620 fields` "
    "lists them.\n"
    "Exit status: 0 done, 1 the adapter, the chip or a file failed, 2 invalid usage or input.";

std::string commandNames(const CLI::App &app);

// The options of xq4620 itself that take a value: "--adapter", "--record",
// "--record-format" and "--record-max-pause", alone or with "=VALUE".
bool topValueOption(const std::string &arg, bool *valueFollows = nullptr) {
    for (const char *name : {"--adapter", "--record", "--record-format", "--record-max-pause"}) {
        if (arg == name) {
            if (valueFollows)
                *valueFollows = true;
            return true;
        }
        if (arg.rfind(std::string(name) + "=", 0) == 0) {
            if (valueFollows)
                *valueFollows = false;
            return true;
        }
    }
    return false;
}

// What was wrong with the command line, in words that name the real
// problem: CLI11 says "A subcommand is required" for an unknown option before
// the command, and lists arguments "not expected" for an option in the wrong
// place.
std::string usageProblem(CLI::App &app, const CLI::ParseError &e, int argc, char **argv) {
    const std::string what = e.what();
    std::string reason = cli::escaped(what);
    if (!app.get_subcommands().empty()) {
        CLI::App *sub = app.get_subcommands().front();
        if (!dynamic_cast<const CLI::ExtrasError *>(&e))
            return reason;
        // An option the command has, given before the command's name; or
        // one it does not have at all.
        bool beforeCommand = true;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == sub->get_name())
                beforeCommand = false;
            if (arg.size() < 2 || arg[0] != '-' || topValueOption(arg))
                continue;
            const std::string name = arg.substr(0, arg.find('='));
            if (app.get_option_no_throw(name) && !beforeCommand)
                continue;
            if (!sub->get_option_no_throw(name))
                return cli::quoted(arg) + " is not an option of " + sub->get_name() + " (xq4620 " +
                       sub->get_name() + " --help lists them)";
            if (beforeCommand)
                return cli::quoted(arg) + " is an option of " + sub->get_name() +
                       " and follows its name: xq4620 " + sub->get_name() + " " + arg;
        }
        return reason;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool valueFollows = false;
        if (topValueOption(arg, &valueFollows)) {
            i += valueFollows ? 1 : 0;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return cli::quoted(arg) + " is not an option of xq4620 itself; the options of a "
                                      "command follow its name (xq4620 COMMAND --help)";
        if (!arg.empty() && arg[0] != '-')
            return cli::quoted(arg) + " is not a command; the commands are " + commandNames(app);
    }
    return reason;
}

std::string commandNames(const CLI::App &app) {
    std::string names;
    for (const CLI::App *sub : app.get_subcommands({}))
        names += (names.empty() ? "" : ", ") + sub->get_name();
    return names;
}

// The command line without its recording options, to head a recording.
std::string recordTitle(int argc, char **argv) {
    std::string title = "xq4620";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool valueFollows = false;
        if (arg.rfind("--record", 0) == 0 && topValueOption(arg, &valueFollows)) {
            i += valueFollows ? 1 : 0;
            continue;
        }
        title += " " + arg;
    }
    return title;
}

} // namespace

int main(int argc, char **argv) {
    // A descriptor closed by the caller is taken by the next file we open
    // (a shared board's state, a register file), which would then receive
    // what was meant for the terminal: each gets /dev/null instead, and a
    // closed standard output is a failure for a command that prints.
    bool stdoutClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (fd == 1)
            stdoutClosed = true;
        const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    // The whole output in one buffer, flushed and checked once at the end.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);

    CLI::App app(kDescription, "xq4620");
    app.set_version_flag("--version", cli::programAndVersion(), "Print the version and exit");
    app.require_subcommand(1, 1);
    app.fallthrough(); // --adapter may follow the subcommand too

    std::string adapter;
    app.add_option("--adapter", adapter,
                   "The adapter, as VTX_ADAPTER takes it: sim, sim:NAME, /dev/i2c-N, usb:SERIAL, "
                   "usb-port:PORT, or empty for the one USB adapter; overrides VTX_ADAPTER");

    std::string recordPath, recordFormat = "shell";
    double longestPause = -1;
    app.add_option("--record", recordPath,
                   "Append every register access of the command to FILE as a script that "
                   "replays its writes: reads and failures as comments, pauses as sleep lines");
    app.add_option("--record-format", recordFormat,
                   "The script's form: shell (default), python or i2ctransfer");
    app.add_option("--record-max-pause", longestPause,
                   "Cut every pause of the recording to at most this many seconds")
        ->check(CLI::NonNegativeNumber);

    bool json = false;
    std::string reg, value, path;
    std::vector<std::string> items;

    CLI::App *info = app.add_subcommand(
        "info", "Show the adapter, its version line and the chip's identification registers");
    info->add_flag("--json", json, "Print JSON");

    CLI::App *dump =
        app.add_subcommand("dump", "Read all thirteen registers and decode their fields");
    dump->add_flag("--json", json, "Print JSON");

    bool force = false;
    CLI::App *read = app.add_subcommand("read", "Read one register and print its value");
    read->add_option("REG", reg, "Register address, a hex byte")->required();
    read->add_flag("--force", force,
                   "Read a write-only register or one the chip lacks all the same");

    CLI::App *write = app.add_subcommand("write", "Write one byte to one register");
    write->add_option("REG", reg, "Register address, a hex byte")->required();
    write->add_option("VALUE", value, "Value, a hex byte")->required();
    write->add_flag("--force", force,
                    "Write a read-only register or one the chip lacks all the same");

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
    load->add_option("FILE", path, "The register file; - for standard input")->required();

    CLI::App *doctor = app.add_subcommand(
        "doctor", "Check the adapter chain link by link and say what to fix; exit status 0 when "
                  "the panel would work");
    doctor->add_flag("--json", json, "Print JSON");

    std::string powerSetting;
    CLI::App *power = app.add_subcommand(
        "power", "Switch the board's supply on or off through the bridge's GPIO line the bench "
                 "description names, or show it");
    power->add_option("SETTING", powerSetting, "on, off or status")->required();
    power->add_flag("--json", json, "Print JSON");

    bool forceLine = false;
    CLI::App *gpio = app.add_subcommand(
        "gpio", "List the bridge's GPIO lines, or drive some: LINE=0 or LINE=1 (GP1=1)");
    gpio->add_option("LINE=VALUE", items, "Lines to drive, held while the command runs");
    gpio->add_flag("--force", forceLine, "Drive the line that switches the board's supply too");
    gpio->add_flag("--json", json, "Print JSON");

    CLI::App *adapters = app.add_subcommand(
        "adapters", "List every I2C bus: which are USB-to-I2C bridges, and the name of each");
    adapters->add_flag("--json", json, "Print JSON");

    int interval = 100, count = 0;
    CLI::App *watch = app.add_subcommand(
        "watch", "Print fields or registers, then each change with its time, until Ctrl+C; never "
                 "writes");
    watch->add_option("NAME", items,
                      "Fields, or registers as hex bytes; none: every readable "
                      "register");
    watch
        ->add_option("--interval", interval,
                     "Milliseconds from the start of one round to the start of the next "
                     "(default 100)")
        ->check(CLI::Range(1, 3600000));
    watch->add_option("--count", count, "Stop after this many rounds")
        ->check(CLI::Range(1, INT32_MAX));
    watch->add_flag("--json", json, "Print one JSON object a line");

    std::string format, output;
    CLI::App *exportSetUp = app.add_subcommand(
        "export", "Export a register file, or without FILE the chip's set-up registers, as C, "
                  "an i2ctransfer script, Python or a shell script");
    exportSetUp->add_option("--format", format, "c, i2ctransfer, python or shell")->required();
    exportSetUp->add_option("FILE", path,
                            "The register file; - for standard input; none: read the chip");
    exportSetUp->add_option("-o,--output", output,
                            "The file to write (as save writes); none or -: standard output");

    std::string fault, setting;
    CLI::App *simulate = app.add_subcommand(
        "simulate", "On a shared simulated board (sim:NAME): raise or clear a fault flag, cut or "
                    "restore the supply, make register reads or writes fail");
    simulate->add_option("FAULT", fault, "ocp, ovp, tsd, power, fail-reads or fail-writes")
        ->required();
    simulate->add_option("SETTING", setting, "on or off; for fail-reads and fail-writes a count")
        ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) { // --help, --version
            if (stdoutClosed)
                return cli::complain(cli::kDeviceFailure, "standard output: closed");
            return cli::finishOutput(app.exit(e) == 0 ? cli::kSuccess : cli::kUsageError);
        }
        cli::complain(cli::kUsageError, usageProblem(app, e, argc, argv));
        std::fprintf(stderr, "Run 'xq4620 --help' for more information.\n");
        return cli::kUsageError;
    }

    if (app.count("--adapter") > 0)
        setenv("VTX_ADAPTER", adapter.c_str(), 1);

    // A command whose output would go nowhere is not run at all.
    const bool prints = !(write->parsed() || set->parsed() || reset->parsed() || sleep->parsed() ||
                          load->parsed() || simulate->parsed() || (save->parsed() && path != "-") ||
                          (power->parsed() && powerSetting != "status") ||
                          (exportSetUp->parsed() && !output.empty() && output != "-"));
    if (stdoutClosed && prints)
        return cli::complain(cli::kDeviceFailure, "standard output: closed");

    std::unique_ptr<cli::Recording> recording;
    if (app.count("--record") > 0) {
        recording = std::make_unique<cli::Recording>(
            recordPath, recordFormat,
            longestPause >= 0 ? std::optional<double>(longestPause) : std::nullopt);
        if (recording->status() != cli::kSuccess)
            return recording->status();
    } else if (app.count("--record-format") > 0 || app.count("--record-max-pause") > 0) {
        cli::complain(cli::kUsageError, "--record-format and --record-max-pause go with --record");
        return cli::kUsageError;
    }

    int status = cli::kUsageError;
    if (info->parsed())
        status = cli::runInfo(json);
    else if (dump->parsed())
        status = cli::runDump(json);
    else if (read->parsed())
        status = cli::runRead(reg, force);
    else if (write->parsed())
        status = cli::runWrite(reg, value, force);
    else if (fields->parsed())
        status = cli::runFields(json);
    else if (get->parsed())
        status = cli::runGet(items, json);
    else if (set->parsed())
        status = cli::runSet(items);
    else if (reset->parsed())
        status = cli::runReset();
    else if (sleep->parsed())
        status = cli::runSleep();
    else if (save->parsed())
        status = cli::runSave(path);
    else if (load->parsed())
        status = cli::runLoad(path);
    else if (doctor->parsed())
        status = cli::runDoctor(json);
    else if (adapters->parsed())
        status = cli::runAdapters(json);
    else if (power->parsed())
        status = cli::runPower(powerSetting, json);
    else if (gpio->parsed())
        status = cli::runGpio(items, forceLine, json);
    else if (watch->parsed())
        status = cli::runWatch(items, interval, count, json);
    else if (simulate->parsed())
        status = cli::runSimulate(fault, setting);
    else if (exportSetUp->parsed())
        status = cli::runExport(format, path, output);
    if (recording)
        status = recording->finish(recordTitle(argc, argv), status);
    return cli::finishOutput(status);
}
