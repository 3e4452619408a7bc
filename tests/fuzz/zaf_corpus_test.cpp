// Replays the fuzz corpus, every truncation of a good archive and seeded random corruptions
// through the reader and decoders (in a forked child, as the demo would read them) and
// through `zaf list` / `zaf extract`: each must work or end with status 1 and at most one
// line, never by a signal or a sanitizer report.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fuzz/zaf_craft.h"
#include "fuzz/zaf_exercise.h"
#include "support/process.h"

namespace {

struct ChildResult {
    bool exited;
    int status;       // exit status, or the signal when !exited
    std::string out, err;
};

// Runs the reader over the archive at path in a forked child, its output captured.
ChildResult Read_InChild(const std::string &path, const std::string &bytes)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {false, -1, "", "pipe failed"};
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        ZAF_Open(path.c_str());
        Zaf_ForEachEntry((const unsigned char *)bytes.data(), bytes.size(), 16,
                         [](const char *name, uint32_t type, uint32_t i) {
                             Zaf_ExerciseEntry(name, type);
                             if (i == 0)
                                 Zaf_ExerciseEntry(name, type);
                         });
        ZAF_Close();
        exit(0);
    }
    close(out[1]);
    close(err[1]);
    ChildResult result{false, -1, "", ""};
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *texts[2] = {&result.out, &result.err};
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, -1) < 0)
            break;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, n);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                open--;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return result;
}

bool Sanitizer_Report(const std::string &text)
{
    return text.find("Sanitizer") != std::string::npos
        || text.find("runtime error:") != std::string::npos;
}

class ZafCorpus : public ::testing::Test {
protected:
    void SetUp() override { dir = Make_TempDir("zaf-corpus"); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // The reader, and with tool set also zaf list and zaf extract of every named entry.
    void Check(const std::string &what, const std::string &bytes, bool tool)
    {
        SCOPED_TRACE(what);
        std::string path = dir + "/case.zaf";
        Craft_Write(path, bytes);
        ChildResult child = Read_InChild(path, bytes);
        ASSERT_TRUE(child.exited) << "ended by signal " << child.status << "\n" << child.err;
        EXPECT_TRUE(child.status == 0 || child.status == 1) << child.status;
        EXPECT_EQ(child.err, "");
        if (child.status == 0)
            EXPECT_EQ(child.out, "");
        else
            EXPECT_TRUE(child.out.empty()
                        || child.out.find('\n') == child.out.size() - 1) << child.out;
        if (!tool)
            return;
        std::vector<std::string> commands = {"list " + path};
        Zaf_ForEachEntry((const unsigned char *)bytes.data(), bytes.size(), 16,
                         [&](const char *name, uint32_t, uint32_t) {
                             // Only names the shell passes as they are.
                             if (*name && std::string(name).find_first_not_of(
                                              "abcdefghijklmnopqrstuvwxyz0123456789_")
                                     == std::string::npos)
                                 commands.push_back("extract " + path + " " + name + " -o "
                                                    + dir + "/out");
                         });
        for (const std::string &command : commands) {
            ProcessResult run = Run_Command(std::string(QM_BUILD_DIR) + "/zaf " + command
                                            + " 2>&1 >/dev/null");
            EXPECT_TRUE(run.status == 0 || run.status == 1) << command << ": " << run.status;
            EXPECT_FALSE(Sanitizer_Report(run.output)) << command << "\n" << run.output;
        }
    }
    std::string dir;
};

std::string Good_Archive()
{
    std::vector<float> floats(18);
    for (size_t i = 0; i < floats.size(); i++)
        floats[i] = (float)i * 0.5f;
    return Craft_Archive({{"pic", ZAF_TYPE_PICTURE, Craft_Picture(2, 2, 4, 4)},
                          {"mesh", ZAF_TYPE_MESH, Craft_Mesh(2, 4, floats)},
                          {"text", ZAF_TYPE_DATA, "scroll text"}});
}

TEST_F(ZafCorpus, EveryCorpusFileEndsCleanly)
{
    int files = 0;
    for (const auto &file :
         std::filesystem::directory_iterator(std::string(QM_SOURCE_DIR) + "/tests/fuzz/corpus")) {
        Check(file.path().filename().string(), Craft_Read(file.path().string()), true);
        files++;
    }
    EXPECT_GE(files, 10);
}

TEST_F(ZafCorpus, EveryTruncationEndsCleanly)
{
    const std::string good = Good_Archive();
    Check("whole", good, true);
    // Every cut through header and directory, then every fifth through the payloads.
    const size_t payloads = 16 + 56 * 3;
    for (size_t length = 0; length < good.size(); length += length < payloads + 8 ? 1 : 5)
        Check("cut at " + std::to_string(length), good.substr(0, length), length % 16 == 0);
}

TEST_F(ZafCorpus, RandomCorruptionsEndCleanly)
{
    const std::string good = Good_Archive();
    std::mt19937 random(20240611);
    for (int round = 0; round < 250; round++) {
        std::string bytes = good;
        int changes = 1 + round % 4;
        for (int i = 0; i < changes; i++)
            bytes[random() % bytes.size()] = (char)random();
        Check("corruption " + std::to_string(round), bytes, round % 20 == 0);
    }
}

TEST_F(ZafCorpus, ExtremeDirectoryValuesEndCleanly)
{
    const std::string good = Good_Archive();
    const uint32_t values[] = {0, 1, 36, 0x7fffffff, 0x80000000, 0xfffffff0, 0xffffffff,
                               (uint32_t)good.size()};
    for (size_t entry = 0; entry < 3; entry++)
        for (size_t field : {Craft_Type(entry), Craft_Unpacked(entry), Craft_Packed(entry),
                             Craft_Offset(entry)})
            for (uint32_t value : values) {
                std::string bytes = good;
                Craft_Put32(bytes, field, value);
                Check("entry " + std::to_string(entry) + " field at " + std::to_string(field)
                          + " = " + std::to_string(value),
                      bytes, false);
            }
}

}  // namespace
