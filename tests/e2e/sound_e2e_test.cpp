// quiet_moss with sound: when the sound library cannot start, the demo says why and gives up.
#include "platform/fsound.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/process.h"

namespace {

TEST(SoundE2E, AudioDriverThatCannotOpenEndsTheDemoWithItsReason)
{
    std::string dir = Make_TempDir("sound-e2e");
    Write_EmptyArchive(dir + "/quiet_moss.zaf");
    // Windowed but not silent: the sound library is set up, and its driver does not exist.
    // with-xvfb gives the run its own X server; timeout stops a demo that plays on regardless.
    ProcessResult result = Run_Command("cd '" + dir + "' && SDL_AUDIODRIVER=no-such-driver " +
                                       "timeout 60 " QM_SOURCE_DIR "/tests/tools/with-xvfb '" +
                                       QM_BUILD_DIR "/quiet_moss' -window");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, std::string("QM_x: windowed mode.\nZOKA_PLAYER: ") +
                                 FMOD_ErrorString(FMOD_ERR_INIT) + "\n");
    std::filesystem::remove_all(dir);
}

}  // namespace
