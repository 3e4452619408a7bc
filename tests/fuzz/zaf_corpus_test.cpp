// Replays the fuzz corpus, every truncation of a good archive and seeded random corruptions
// through the reader and decoders (in a forked child, as the demo would read them) and through
// `zaf list` / `zaf extract`: each must work or end with status 1 and at most one line, never by
// a signal or a sanitizer report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fuzz/zaf_craft.h"
#include "fuzz/zaf_exercise.h"

namespace {

class ZafCorpus : public ZafTest {
protected:
    // The reader in a child, and with `tool` also zaf list and zaf extract of every entry.
    void Check(const std::string &what, const std::string &bytes, bool tool)
    {
        SCOPED_TRACE(what);
        const std::string path = Write(bytes), out = dir + "/out", err = dir + "/err";
        const auto *data = (const unsigned char *)bytes.data();
        fflush(stdout);
        fflush(stderr);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            ZAF_Open(path.c_str());
            Zaf_ForEachEntry(data, bytes.size(), Zaf_ExerciseEntry);
            exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        std::string printed = Craft_Read(out);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << "\n" << Craft_Read(err);
        EXPECT_EQ(Craft_Read(err), "");
        if (WEXITSTATUS(status) == 0)
            EXPECT_EQ(printed, "");
        else
            EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_TRUE(printed.empty() || printed.find('\n') == printed.size() - 1) << printed;
        if (!tool)
            return;
        std::vector<std::string> commands = {"list " + path};
        Zaf_ForEachEntry(data, bytes.size(), [&](const std::string &name, uint32_t) {
            // Only names the shell passes as they are.
            if (!name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_")
                                     == std::string::npos)
                commands.push_back("extract " + path + " " + name + " -o " + out);
        });
        for (const std::string &command : commands) {
            ProcessResult run = Run_Command(std::string(QM_BUILD_DIR) + "/zaf " + command
                                            + " 2>&1 >/dev/null");
            EXPECT_TRUE(run.status == 0 || run.status == 1) << command << ": " << run.status;
            EXPECT_EQ(run.output.find("Sanitizer"), std::string::npos) << command << run.output;
            EXPECT_EQ(run.output.find("runtime error:"), std::string::npos) << run.output;
        }
    }
};

// Fault caught: an input the fuzzer once found, or any seed, crashing the reader or the tool.
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

// Fault caught: a cut or a corrupted byte anywhere in an archive read past what was read or
// allocated, or ending in more than one line.
TEST_F(ZafCorpus, DamagedArchivesEndCleanly)
{
    std::vector<float> floats(18);
    for (size_t i = 0; i < floats.size(); i++)
        floats[i] = (float)i * 0.5f;
    const std::string good = Craft_Archive({{"pic", ZAF_TYPE_PICTURE, Craft_Picture(2, 2, 4, 4)},
                                            {"mesh", ZAF_TYPE_MESH, Craft_Mesh(2, 4, floats)},
                                            {"text", ZAF_TYPE_DATA, "scroll text"}});
    Check("whole", good, true);
    // Every cut through header and directory, then every fifth through the payloads.
    const size_t payloads = 16 + 56 * 3;
    for (size_t length = 0; length < good.size(); length += length < payloads + 8 ? 1 : 5)
        Check("cut at " + std::to_string(length), good.substr(0, length), length % 16 == 0);

    std::mt19937 random(20240611);
    for (int round = 0; round < 250; round++) {
        std::string bytes = good;
        for (int i = 0; i <= round % 4; i++)
            bytes[random() % bytes.size()] = (char)random();
        Check("corruption " + std::to_string(round), bytes, round % 20 == 0);
    }
}

}  // namespace
