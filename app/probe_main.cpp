// vexel-probe: the records of .vx files, one line each, and a summary;
// --check also decodes every record (writing nothing) and stops at the
// first one that fails; --json prints the same as a JSON array.
#include "app/probe.h"
#include <vexel/vexel.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] = "usage: vexel-probe [--check] [--json] FILE.vx...\n"
                      "  --check    also decode every record (writing nothing); stop at the first that fails\n"
                      "  --json     print the records as a JSON array\n"
                      "  --version  print the version\n";

} // namespace

int main(int argc, char** argv) {
    bool check = false, json = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vexel-probe %s\n", vexel_version_string());
            return 0;
        }
        if (std::strcmp(argv[i], "--check") == 0) check = true;
        else if (std::strcmp(argv[i], "--json") == 0) json = true;
        else if (std::strcmp(argv[i], "--") == 0) {
            for (++i; i < argc; ++i) files.push_back(argv[i]);
        } else if (argv[i][0] == '-' && argv[i][1] != 0) {
            std::fprintf(stderr, "vexel-probe: unknown option %s\n", argv[i]);
            return 64;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fputs(kUsage, stderr);
        return 64;
    }
    int code = 0;
    if (json) std::fputs("[", stdout);
    for (std::size_t i = 0; i < files.size(); ++i) {
        vexel::ProbeReport report;
        const int result = vexel::probeFile(files[i], check, report);
        if (json) {
            const std::string object = std::string(i ? ",\n " : "") + vexel::probeJson(report);
            std::fputs(object.c_str(), stdout);
        } else if (result == vexel::kProbeNotVx) {
            std::fprintf(stderr, "vexel-probe: %s: %s\n", files[i].c_str(), report.failure.c_str());
        } else {
            std::fputs(vexel::probeText(report).c_str(), stdout);
        }
        if (result != vexel::kProbeDone && code == 0) code = result;
        if (result == vexel::kProbeBadRecord && check) break; // the first record that fails ends the check
    }
    if (json) std::fputs("]\n", stdout);
    return code;
}
