#include "support/process.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

ProcessResult Run_Command(const std::string &command)
{
    ProcessResult result{-1, {}};
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("popen failed: " + command);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

std::string Make_TempDir(const char *tag)
{
    std::string pattern = std::string("/tmp/qm-") + tag + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::vector<std::string> Split_Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}
