#include "support/process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

bool Run_CaseAlone()
{
    static bool process_taken = false;
    if (!process_taken) {
        process_taken = true;
        return true;
    }
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const ProcessResult r = Run_Command("'" + self + "' --gtest_filter='" +
                                        info->test_suite_name() + "." + info->name() + "' 2>&1");
    // A filter that matched nothing would pass without running anything.
    EXPECT_TRUE(r.status == 0 && r.output.find("[  PASSED  ] 1 test.") != std::string::npos)
        << "run alone, the case failed:\n" << r.output;
    return false;
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
