#include "tool/xz_command.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

std::string xz_output_name(const std::string& input_path) { return input_path + ".xz"; }

bool xz_compress_file(const std::string& input_path, std::string& error) {
    char xz[] = "xz";
    char force[] = "-f";
    char filter[] = "--lzma2=dict=32KiB";
    char check[] = "--check=crc32";
    char keep[] = "-k";
    char end_of_options[] = "--";  // a path starting with '-' stays a file name
    std::string path = input_path;
    char* argv[] = {xz, force, filter, check, keep, end_of_options, path.data(), nullptr};

    pid_t pid;
    int rc = posix_spawnp(&pid, xz, nullptr, nullptr, argv, environ);
    if (rc != 0) {
        error = rc == ENOENT ? "xz: not found" : std::string("xz: ") + std::strerror(rc);
        return false;
    }
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            error = std::string("xz: ") + std::strerror(errno);
            return false;
        }
    }
    if (WIFSIGNALED(status)) {
        error = std::string("xz: killed by signal ") + std::to_string(WTERMSIG(status));
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "xz: exit status " + std::to_string(WEXITSTATUS(status));
        return false;
    }
    return true;
}
