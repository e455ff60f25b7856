// Fuzz target: random file contents and options through the real command,
// run as a child process (a sanitizer build of it, named by TESSLAR_BINARY).
// It must end with status 0 or 1, never by a signal or a sanitizer report,
// close its output with "\n\n", and write exactly the image it announces.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char **environ;

namespace {

std::string read_file(const std::string &path)
{
    std::string text;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        char chunk[65536];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
            text.append(chunk, n);
        fclose(f);
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static const char *binary = getenv("TESSLAR_BINARY");
    static std::string folder = [] {
        char name[] = "/tmp/tesslar-fuzz-XXXXXX";
        return std::string(mkdtemp(name));
    }();
    if (binary == nullptr) {
        fprintf(stderr, "TESSLAR_BINARY is not set\n");
        abort();
    }
    if (size < 8)
        return 0;

    // Options from the first eight bytes; the rest is the file. The top
    // address keeps images small unless only the report is asked for.
    uint8_t flags = bytes[0];
    bool info = flags & 1;
    char pad[16], granularity[4], offset[16], top[16];
    snprintf(pad, sizeof pad, "%u", bytes[1] | bytes[2] << 8 | bytes[3] << 16);
    snprintf(granularity, sizeof granularity, "%d", (flags >> 1) % 5);
    snprintf(offset, sizeof offset, "%s0x%X", (flags & 8) ? "-" : "", (bytes[4] | bytes[5] << 8) << (flags >> 4 & 7));
    unsigned top_value = info ? (bytes[6] << 24 | bytes[7] << 16 | 0xFFFF) : (bytes[6] << 8 | bytes[7]) << 4;
    snprintf(top, sizeof top, "%u", top_value);

    std::string input = folder + "/in.hex", output = folder + "/out.bin", log = folder + "/stdout.txt";
    if (FILE *f = fopen(input.c_str(), "wb")) {
        fwrite(bytes + 8, 1, size - 8, f);
        fclose(f);
    }
    remove(output.c_str());

    std::vector<const char *> argv{binary, "--pad", pad, "--padgran", granularity, "--offset", offset, "--top", top};
    if (info)
        argv.push_back("-i");
    argv.push_back(input.c_str());
    argv.push_back(output.c_str());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t child;
    if (posix_spawn(&child, binary, &actions, nullptr, const_cast<char **>(argv.data()), environ) != 0)
        abort();
    posix_spawn_file_actions_destroy(&actions);
    // libFuzzer's timer signal interrupts the wait now and then
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            abort();
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
        fprintf(stderr, "tesslar ended with status %d\n", status);
        abort();
    }

    std::string out = read_file(log);
    auto refuse = [&](const char *why) {
        fprintf(stderr, "%s; status %d; standard output was:\n%s<end>\n", why, WEXITSTATUS(status), out.c_str());
        abort();
    };
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\n\n") != 0)
        refuse("output does not end with a blank line");
    bool failed = WEXITSTATUS(status) == 1;
    if (failed != (out.find("\nERROR: ") != std::string::npos))
        refuse("exit status and ERROR line disagree");
    size_t wrote = out.find("\nWrote ");
    if (!failed && wrote != std::string::npos) {
        unsigned long announced = strtoul(out.c_str() + wrote + 7, nullptr, 10);
        if (read_file(output).size() != announced)
            refuse("output size differs from the announced byte count");
    }
    if (info && access(output.c_str(), F_OK) == 0)
        refuse("-i wrote an output file");
    return 0;
}
