// mksetup: builds a setup program from a stub and a JSON description, and
// shows what a setup program carries.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "description_json.h"
#include "setup_builder.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFailure = 1;
constexpr int kUsage = 2;

const char kHelp[] =
    "Usage:\n"
    "  mksetup build --stub STUB.exe --description DESC.json --output OUT.exe\n"
    "      Appends the configuration block and the payload described by DESC.json\n"
    "      to a copy of STUB.exe (-o is short for --output). OUT.exe is written\n"
    "      through a temporary file, so it is complete or absent.\n"
    "  mksetup inspect FILE\n"
    "      Prints the block and the payload layout of a setup program as JSON.\n"
    "  mksetup --help\n"
    "\n"
    "The description format is documented in tools/mksetup/README.md.\n"
    "Exit status: 0 on success, 1 on errors, 2 on usage errors.\n";

// Errors are one line, whatever the message carries.
int report(int code, std::string message) {
    for (char& c : message) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "mksetup: %s\n", message.c_str());
    return code;
}

int usage(const std::string& message) {
    return report(kUsage, message + " (see 'mksetup --help')");
}

struct BuildOptions {
    std::optional<std::string> stub;
    std::optional<std::string> description;
    std::optional<std::string> output;
};

int build(const std::vector<std::string>& args) {
    BuildOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        // "--name=value" as well as "--name value".
        const std::size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        std::optional<std::string>* slot = nullptr;
        if (name == "--stub") {
            slot = &options.stub;
        } else if (name == "--description") {
            slot = &options.description;
        } else if (name == "--output" || name == "-o") {
            slot = &options.output;
        } else {
            return usage("build: unknown argument '" + args[i] + "'");
        }
        if (!value) {
            if (i + 1 >= args.size()) return usage("build: " + name + " needs a value");
            value = args[++i];
        }
        if (*slot) return usage("build: " + name + " given twice");
        if (value->empty()) return usage("build: " + name + " has an empty value");
        *slot = *value;
    }
    if (!options.stub) return usage("build: --stub is required");
    if (!options.description) return usage("build: --description is required");
    if (!options.output) return usage("build: --output is required");

    std::string error;
    std::error_code ec;
    const fs::path outputPath = fs::u8path(*options.output);
    if (fs::exists(outputPath, ec) &&
        (fs::equivalent(outputPath, fs::u8path(*options.stub), ec) ||
         fs::equivalent(outputPath, fs::u8path(*options.description), ec))) {
        return report(kFailure, "output " + *options.output + " is one of the input files");
    }

    mksetup::Bytes stub;
    if (!mksetup::readFile(*options.stub, stub, &error)) return report(kFailure, "stub: " + error);
    if (!mksetup::imageEnd(stub, &error)) return report(kFailure, *options.stub + ": " + error);

    mksetup::Bytes text;
    if (!mksetup::readFile(*options.description, text, &error)) {
        return report(kFailure, "description: " + error);
    }
    const std::string baseDir = fs::u8path(*options.description).parent_path().u8string();
    std::optional<mksetup::SetupDescription> description =
        mksetup::parseDescription(std::string(text.begin(), text.end()), baseDir, &error);
    if (!description) return report(kFailure, *options.description + ": " + error);

    std::optional<mksetup::Bytes> setup = mksetup::buildSetup(stub, *description, &error);
    if (!setup) return report(kFailure, error);
    if (!mksetup::writeFileAtomically(*options.output, *setup, &error)) return report(kFailure, error);
    std::printf("wrote %s (%zu bytes: stub %zu, appended %zu; %zu files)\n", options.output->c_str(),
                setup->size(), stub.size(), setup->size() - stub.size(), description->files.size());
    return 0;
}

int inspect(const std::vector<std::string>& args) {
    if (args.size() != 1) return usage("inspect: expects exactly one file");
    mksetup::Bytes data;
    std::string error;
    if (!mksetup::readFile(args[0], data, &error)) return report(kFailure, error);
    std::optional<mksetup::InspectResult> result = mksetup::inspectSetup(data, &error);
    if (!result) return report(kFailure, args[0] + ": " + error);
    std::fputs(mksetup::inspectionToJson(*result).c_str(), stdout);
    return 0;
}

int run(int argc, char** argv) {
    if (argc < 2) return usage("no command given");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (command == "build") return build(args);
    if (command == "inspect") return inspect(args);
    return usage("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const int code = run(argc, argv);
        if (std::fflush(stdout) != 0) return report(kFailure, "cannot write to standard output");
        return code;
    } catch (const std::exception& e) {
        return report(kFailure, e.what());
    }
}
