// SPDX-License-Identifier: MIT
// Fuzz target: random file contents and options through the real command, a
// sanitizer build of it named by TESSLAR_BINARY, run as a child process. It
// must end with status 0 or 1 (never a signal or a sanitizer report), with
// "\n\n", an ERROR line exactly when it fails, and the image it announces.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

static std::string read_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static const char *binary = getenv("TESSLAR_BINARY");
    static std::string folder = [] {
        char name[] = "/tmp/tesslar-fuzz-XXXXXX";
        return std::string(mkdtemp(name));
    }();
    if (binary == nullptr)
        abort(); // TESSLAR_BINARY names the command
    if (size < 8)
        return 0;

    // Options from the first eight bytes, the file from the rest. The top
    // address keeps images small unless only the report is asked for.
    bool info = bytes[0] & 1;
    unsigned top = info ? (bytes[6] << 24 | bytes[7] << 16 | 0xFFFF) : (bytes[6] << 8 | bytes[7]) << 4;
    std::string in = folder + "/in.hex", out = folder + "/out.bin", log = folder + "/stdout.txt";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char *>(bytes + 8), std::streamsize(size - 8));
    remove(out.c_str());
    char command[512];
    snprintf(command, sizeof command, "%s --pad %u --padgran %d --offset %s0x%X --top %u %s %s %s > %s", binary,
             bytes[1] | bytes[2] << 8 | bytes[3] << 16, (bytes[0] >> 1) % 5, (bytes[0] & 8) ? "-" : "",
             (bytes[4] | bytes[5] << 8) << (bytes[0] >> 4 & 7), top, info ? "-i" : "", in.c_str(), out.c_str(),
             log.c_str());
    int status = system(command);

    std::string text = read_file(log);
    bool failed = WIFEXITED(status) && WEXITSTATUS(status) == 1;
    size_t wrote = text.find("\nWrote ");
    const char *why = !WIFEXITED(status) || WEXITSTATUS(status) > 1                ? "ended by a signal or a report"
                      : text.size() < 2 || text.compare(text.size() - 2, 2, "\n\n") ? "no blank line at the end"
                      : failed != (text.find("\nERROR: ") != std::string::npos)     ? "status and ERROR line disagree"
                      : !failed && wrote != std::string::npos &&
                              read_file(out).size() != strtoul(text.c_str() + wrote + 7, nullptr, 10)
                          ? "the image is not the size announced"
                      : info && access(out.c_str(), F_OK) == 0 ? "-i wrote an output file"
                                                               : nullptr;
    if (why != nullptr) {
        fprintf(stderr, "%s; status %d; standard output was:\n%s<end>\n", why, status, text.c_str());
        abort();
    }
    return 0;
}
